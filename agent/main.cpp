// warden: the tunnel agent. It checks its relay (an HTTP proxy with Basic
// authentication behind TLS), serves SOCKS4, SOCKS4a, SOCKS5 and HTTP proxy
// requests on 127.0.0.1 at the port of "-H", and carries every client
// connection through its own CONNECT to the relay. One status line per
// event on standard output (Status.h); it runs until it is terminated.
//
//   warden -name USER -key TOKEN -do -H LOCALPORT -umbrane -port RELAYPORT -say RELAYIP
//
// Where things are: Options (the command line), Relays (which relays, in
// what order), Listener and Session (the local proxy and its clients),
// RelayRace (a client's first words against a silent connection),
// RelayPool (verified connections, some kept ready, each dialled by
// RelayChoice's rules), Upkeep with UpkeepRules and NetworkWatch (when
// to open connections of our own, and what to tell Umbrane about the
// relays).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <csignal>
#endif

#include <asio.hpp>

#include "local/Listener.h"
#include "relay/ConnectRequest.h"
#include "relay/RelayAnswer.h"
#include "relay/Relays.h"
#include "common/Status.h"

namespace warden {
namespace {

constexpr auto kCheckTimeout = std::chrono::seconds(10);

// Runs `io` until `done` or the time-out; false on the time-out (the work is
// then cancelled through `cancel`).
template <typename Cancel>
bool RunWithin(asio::io_context& io, const bool& done, std::chrono::seconds limit, Cancel cancel) {
  io.restart();
  io.run_for(limit);
  if (done) {
    return true;
  }
  cancel();
  io.restart();
  io.run();
  return false;
}

// The first connection to a relay, verified; the agent stops when there
// is none.
std::unique_ptr<RelayChannel> OpenFirst(asio::io_context& io, RelayPool& relays) {
  std::unique_ptr<RelayChannel> channel;
  asio::error_code openError;
  relays.Open([&](asio::error_code e, std::unique_ptr<RelayChannel> made) {
    openError = e;
    channel = std::move(made);
  });
  io.restart();
  io.run();  // each relay's own time-out bounds it
  const std::string tried =
      relays.List().list.size() == 1
          ? "the relay"
          : "any of the " + std::to_string(relays.List().list.size()) + " relays";
  if (openError == asio::error::operation_aborted) {
    Stop(status::kTimedOut, "no answer from " + tried);
  }
  if (openError == asio::error::access_denied) {
    // Not the relay, or not provably (told already): it gets nothing of ours.
    Stop(status::kCannotConnect, "no relay could be verified");
  }
  if (openError) {
    Stop(status::kCannotConnect, "cannot reach " + tried + ": " + openError.message());
  }
  return channel;
}

// A CONNECT to the relay's own address: the relay checks the credentials
// before the destination, so 200 (a relay that lets it through) or 403 (one
// that keeps its own network to itself, as it should) both mean they are
// good.
void CheckCredentials(asio::io_context& io, RelayChannel& channel, const Options& options,
                      const RelayEntry& relay) {
  Status(status::kIdentifying, "the relay checks the credentials");
  const std::string check = ConnectRequest(relay.Name(), options.user, options.token);
  std::string answer;
  bool answered = false;
  asio::error_code answerError;
  channel.AsyncWrite(asio::buffer(check), [&](asio::error_code e) {
    if (e) {
      answerError = e;
      answered = true;
      return;
    }
    ReadAnswerHead(channel, answer, [&](asio::error_code readError, std::size_t) {
      answerError = readError;
      answered = true;
    });
  });
  if (!RunWithin(io, answered, kCheckTimeout, [&] {
        asio::error_code ignored;
        channel.Socket().close(ignored);
      })) {
    Stop(status::kTimedOut, "the relay did not answer the credentials check");
  }
  const int code = StatusCode(answer).value_or(0);
  if (answerError || (code != 200 && code != 403)) {
    if (CredentialsRefused(code)) {
      Stop(status::kIdentifyFailed, "the relay refused the credentials");
    }
    Stop(status::kCannotConnect, "the relay answered " + std::to_string(code));
  }
  Status(status::kConnected, "the relay accepted the credentials");
}

// The relays this run may use, in the order to try them.
Relays RunsRelays(const Options& options) {
  const RelayEntry commandLine{options.relayAddress, options.relayPort, RelayPins()};
  std::minstd_rand random(std::random_device{}());
  std::string note;
  std::string lastGood = ReadKept(kInUseFile).value_or("");
  lastGood.erase(std::min(lastGood.find_first_of("\r\n"), lastGood.size()));
  Relays relays = ChooseRelays(commandLine, BuildRelays(), ReadKept(kListFile), lastGood,
                               !TrustsSystemRoots(), random, note);
  if (!note.empty()) {
    Status(status::kQuiet, note);
  }
  return relays;
}

int Run(int argc, char** argv) {
  std::string problem;
  const auto options = ParseOptions(argc, argv, problem);
  if (!options) {
    Status(status::kMissionFailed, "bad command line: " + problem);
    return 2;
  }
  asio::error_code ec;
  (void)asio::ip::make_address_v4(options->relayAddress, ec);
  if (ec) {
    Status(status::kMissionFailed, "bad relay address " + options->relayAddress);
    return 2;
  }
  asio::io_context io;
  Status(status::kSearching, "preparing");
  RelayPool relays(io, RunsRelays(*options));
  // The log names relays by their place in the list, never by address.
  Status(status::kConnecting, "connecting to " + Place(relays.List(), relays.InUse()));
  RelayUpkeep health(io, relays);
  auto first = OpenFirst(io, relays);
  const RelayEntry& inUse = relays.List().list[first->Relay()];
  CheckCredentials(io, *first, *options, inUse);
  Keep(kInUseFile, inUse.Name());

  // Only the loopback address is ever bound.
  tcp::acceptor acceptor(io);
  HandedSocket handed;
  ec = ListenLocally(acceptor, options->localPort, handed);
  if (ec) {
    Stop(status::kMissionFailed,
         "cannot listen on 127.0.0.1:" + std::to_string(options->localPort) + ": " + ec.message());
  }
  Status(status::kReady,
         "accepting proxy connections on 127.0.0.1:" + std::to_string(options->localPort) +
             " through " + Place(relays.List(), relays.InUse()));
  Listener listener(io, std::move(acceptor), handed, *options, relays, health);
  health.Start();
  listener.Start();
  io.restart();
  io.run();
  return 0;
}

}  // namespace
}  // namespace warden

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)_setmode(_fileno(stdout), _O_BINARY);  // CR LF exactly as written
#else
  // OpenSSL writes to a relay connection the relay has already reset; that
  // is one failed connection, not the end of the agent.
  (void)std::signal(SIGPIPE, SIG_IGN);
#endif
  return warden::Run(argc, argv);
}
