// What a local client sends: the greeting and request (Handshake), then,
// for a plain-HTTP client, the stream of requests (RequestStream) and what
// of it may race on two relay connections (SafeToRepeat), with an oracle:
// what goes to a site is requests a strict reader finds, each for the site
// itself (a path, never an absolute URI), and never the credentials. The
// same bytes read as a site's answers (ResponseStream) must not crash it.
// The input arrives cut in two at a place its first byte chooses, as reads
// cut it.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "local/Handshake.h"
#include "common/Limits.h"
#include "relay/ConnectRequest.h"
#include "local/RequestStream.h"
#include "local/ResponseStream.h"

using namespace warden;

namespace {

// The oracle: a strict reader of its own walks what went to the relay,
// head by head and each body as its head frames it, and stops at the first
// thing HTTP/1.1 does not allow (a bare CR or LF, a control byte, a folded
// line, a name with white space, a framing it cannot trust). Every request
// line it finds names a path.
bool CleanLine(std::string_view line) {
  return std::none_of(line.begin(), line.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && c != '\t') || b == 0x7F;
  });
}

std::string Lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool OnlySitesRequests(std::string_view out) {
  const auto line = [&](std::size_t& at, std::string_view& text) {
    const std::size_t end = out.find("\r\n", at);
    if (end == std::string_view::npos || !CleanLine(out.substr(at, end - at))) {
      return false;
    }
    text = out.substr(at, end - at);
    at = end + 2;
    return true;
  };
  std::size_t at = 0;
  std::string_view text;
  while (at < out.size()) {
    if (!line(at, text) || text.empty()) {
      break;
    }
    const std::size_t target = text.find(' ') + 1;
    if (target == 0 || target >= text.size() || text[target] != '/') {
      return false;
    }
    bool chunked = false;
    bool sound = true;
    std::string length;
    while (sound && line(at, text) && !text.empty()) {
      const std::size_t colon = text.find(':');
      const std::string_view name = text.substr(0, colon);
      if (colon == std::string_view::npos || name.empty() ||
          name.find_first_of(" \t") != std::string_view::npos) {
        sound = false;
        break;
      }
      std::string_view value = text.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
      }
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
      }
      const std::string field = Lowered(name);
      if (field == "proxy-authorization") {
        return false;  // meant for a proxy, never for a site
      }
      if (field == "transfer-encoding") {
        // A list (empty elements allowed) whose last coding, and only
        // that one, is chunked.
        std::string codings = Lowered(value);
        codings.erase(std::remove_if(codings.begin(), codings.end(),
                                     [](char c) { return c == ' ' || c == '\t'; }),
                      codings.end());
        while (!codings.empty() && codings.back() == ',') {
          codings.pop_back();
        }
        const std::size_t comma = codings.rfind(',');
        const std::string last = comma == std::string::npos ? codings : codings.substr(comma + 1);
        sound = !chunked && last == "chunked" && codings.find("chunked") == codings.size() - 7;
        chunked = true;
      } else if (field == "content-length") {
        // Digits, and the same number each time ("04" is 4).
        std::string digits(value);
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
        sound = !value.empty() && value.size() < 16 &&
                value.find_first_not_of("0123456789") == std::string_view::npos &&
                (length.empty() || length == digits);
        length = digits;
      }
    }
    if (!sound || !text.empty() || (chunked && !length.empty())) {
      break;
    }
    if (!chunked) {
      at += static_cast<std::size_t>(
          std::min<unsigned long long>(length.empty() ? 0 : std::stoull(length), out.size()));
      continue;
    }
    for (;;) {  // chunks, then trailer lines up to an empty one
      if (!line(at, text)) {
        at = out.size();
        break;
      }
      std::string size(text.substr(0, text.find(';')));
      while (!size.empty() && (size.back() == ' ' || size.back() == '\t')) {
        size.pop_back();  // white space may stand before an extension
      }
      if (size.empty() || size.size() > 15 ||
          size.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        at = out.size();
        break;
      }
      const unsigned long long bytes = std::stoull(size, nullptr, 16);
      if (bytes == 0) {
        while (line(at, text) && !text.empty()) {
        }
        break;
      }
      at += static_cast<std::size_t>(std::min<unsigned long long>(bytes + 2, out.size()));
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view all(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t cut = data[0] % (all.size() + 1);

  Handshake handshake;
  Handshake::Step step = handshake.Feed(all.substr(0, cut));
  if (step == Handshake::Step::NeedMore || step == Handshake::Step::Reply) {
    step = handshake.Feed(all);
  }
  if (step == Handshake::Step::Ready) {
    // Whatever goes to the relay names a host it may be given.
    if (!ValidHost(handshake.TargetHost().host) || handshake.Consumed() > all.size() ||
        handshake.Head().size() > kMaxHead) {
      std::abort();
    }
    (void)handshake.Success();
  }
  (void)handshake.Failure();

  ResponseStream answers;
  RequestStream requests(answers);
  std::string out;
  const bool needMore = requests.Feed(all.substr(0, cut), out) == RequestStream::Result::NeedMore;
  // What may go to the relay twice is one bodiless head, never more.
  if (SafeToRepeat(out) && out.find("\r\n\r\n") + 4 != out.size()) {
    std::abort();
  }
  if (needMore) {
    (void)requests.Feed(all.substr(cut), out);
  }
  // A client's own CONNECT makes the rest a tunnel's bytes.
  if (!requests.Connect() && !OnlySitesRequests(out)) {
    std::abort();
  }
  answers.Expect(data[0] & 1);
  answers.Expect(false);
  answers.Feed(all.substr(0, cut));
  answers.Feed(all.substr(cut));
  (void)answers.Settled();
  BodyFraming framing;
  (void)ReadBodyFraming(all, framing);
  return 0;
}
