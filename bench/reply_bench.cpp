// What the check of a signed update reply costs: the whole check (signature,
// binding, times, number) of the reply in the file given, against the old
// way (an unsigned reply, acted on as it stands), per check.
//   umbrane_bench_reply REPLY_FILE ID SN VERSION
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "update/UpdateReply.h"

using namespace umbrane;

namespace {

UpdateReply Parse(const std::string& text) {
  UpdateReply reply;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const std::size_t equals = line.find('=');
    const std::string name = line.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : line.substr(equals + 1);
    for (const ReplyField& field : kSignedFields) {
      if (name == field.name) {
        reply.*field.value = value;
      }
    }
    if (name == "Signature") {
      reply.signature = value;
    }
  }
  return reply;
}

double MicrosecondsPerCheck(const UpdateReply& reply, const UpdateRequest& request,
                            const UpdateTrust& trust, int rounds, Refusal& verdict) {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < rounds; ++i) {
    verdict = CheckReply(reply, request, trust, now, 0).refusal;
  }
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
             .count() /
         rounds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s REPLY_FILE ID SN VERSION\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const UpdateReply signedReply = Parse(text.str());
  const UpdateRequest request{argv[2], argv[3], argv[4]};
  Refusal verdict = Refusal::None;
  const double signedCost =
      MicrosecondsPerCheck(signedReply, request, BuiltUpdateTrust(), 2000, verdict);
  if (verdict != Refusal::None) {
    std::fprintf(stderr, "the reply is refused: %s\n", RefusalText(verdict).c_str());
    return 1;
  }
  UpdateReply unsignedReply = signedReply;
  unsignedReply.signature.clear();
  const double unsignedCost =
      MicrosecondsPerCheck(unsignedReply, request, UpdateTrust{{}, true}, 2000, verdict);
  std::printf("signed reply, whole check (ECDSA P-256):  %8.1f us per check\n", signedCost);
  std::printf("unsigned reply, as before (no check):     %8.3f us per check\n", unsignedCost);
  return 0;
}
