// What a local client sends: the greeting and request (Handshake), then,
// for a plain-HTTP client, the stream of requests (RequestStream) and what
// of it may race on two relay connections (SafeToRepeat). The input
// arrives cut in two at a place its first byte chooses, as reads cut it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Handshake.h"
#include "Limits.h"
#include "RequestStream.h"

using namespace warden;

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

  RequestStream requests("user", "token");
  std::string out;
  const bool needMore = requests.Feed(all.substr(0, cut), out) == RequestStream::Result::NeedMore;
  // What may go to the relay twice is one bodiless head, never more.
  if (SafeToRepeat(out) && out.find("\r\n\r\n") + 4 != out.size()) {
    std::abort();
  }
  if (needMore) {
    (void)requests.Feed(all.substr(cut), out);
  }
  BodyFraming framing;
  (void)ReadBodyFraming(all, framing);
  return 0;
}
