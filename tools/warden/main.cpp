// warden: the tunnel agent. It checks its relay (an HTTP proxy with Basic
// authentication behind TLS), serves SOCKS4, SOCKS4a, SOCKS5 and HTTP proxy
// requests on 127.0.0.1 at the port of "-H", and carries every client
// connection through its own CONNECT to the relay. One status line per
// event on standard output (Status.h); it runs until it is terminated.
//
//   warden -name USER -key TOKEN -do -H LOCALPORT -umbrane -port RELAYPORT -say RELAYIP
//
// Where things are: Options (the command line), Listener and Session (the
// local proxy and its clients), RelayRace (a client's first words against a
// silent connection), RelayPool (verified connections, some kept ready),
// RelayHealth with RelayKeeper and NetworkWatch (when to open connections
// of our own, and what to tell Umbrane about the relay).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <csignal>
#endif

#include <asio.hpp>

#include "Listener.h"
#include "Relay.h"
#include "RelayAnswer.h"
#include "Status.h"

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

// The first connection to the relay, verified; the agent stops when there
// is none.
std::unique_ptr<RelayChannel> OpenFirst(asio::io_context& io, RelayPool& relays,
                                        const std::string& relayName) {
  std::unique_ptr<RelayChannel> channel;
  asio::error_code openError;
  relays.Open([&](asio::error_code e, std::unique_ptr<RelayChannel> made) {
    openError = e;
    channel = std::move(made);
  });
  io.restart();
  io.run();  // the pool's own time-out bounds it
  if (openError == asio::error::access_denied && channel) {
    // Not the relay, or not provably: it gets nothing of ours.
    Stop(status::kIdentifyFailed,
         std::string(status::kRelayNotVerified) + ": " + channel->Problem());
  }
  if (openError == asio::error::operation_aborted) {
    Stop(status::kTimedOut, "no answer from the relay " + relayName);
  }
  if (openError) {
    Stop(status::kCannotConnect,
         "cannot reach the relay " + relayName + ": " + openError.message());
  }
  return channel;
}

// A CONNECT to the relay's own address: 200 means the credentials are good.
void CheckCredentials(asio::io_context& io, RelayChannel& channel, const Options& options,
                      const std::string& relayName) {
  Status(status::kIdentifying, "the relay checks the credentials");
  const std::string check = ConnectRequest(relayName, options.user, options.token);
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
  if (answerError || code != 200) {
    if (CredentialsRefused(code)) {
      Stop(status::kIdentifyFailed, "the relay refused the credentials");
    }
    Stop(status::kCannotConnect, "the relay answered " + std::to_string(code));
  }
  Status(status::kConnected, "the relay accepted the credentials");
}

int Run(int argc, char** argv) {
  std::string problem;
  const auto options = ParseOptions(argc, argv, problem);
  if (!options) {
    Status(status::kMissionFailed, "bad command line: " + problem);
    return 2;
  }
  asio::error_code ec;
  const auto relayAddress = asio::ip::make_address(options->relayAddress, ec);
  if (ec) {
    Status(status::kMissionFailed, "bad relay address " + options->relayAddress);
    return 2;
  }
  const tcp::endpoint relay(relayAddress, options->relayPort);
  const std::string relayName = relay.address().to_string() + ":" + std::to_string(relay.port());
  asio::io_context io;
  Status(status::kSearching, "preparing");

  Status(status::kConnecting, "connecting to the relay " + relayName);
  RelayPool relays(io, relay, RelayTrust{options->relayAddress, RelayPins()});
  CheckCredentials(io, *OpenFirst(io, relays, relayName), *options, relayName);

  // Only the loopback address is ever bound.
  tcp::acceptor acceptor(io);
  ec = ListenLocally(acceptor, options->localPort);
  if (ec) {
    Stop(status::kMissionFailed,
         "cannot listen on 127.0.0.1:" + std::to_string(options->localPort) + ": " + ec.message());
  }
  Status(status::kReady,
         "accepting proxy connections on 127.0.0.1:" + std::to_string(options->localPort));
  RelayHealth health(io, relays, relayName);
  Listener listener(io, std::move(acceptor), *options, relays, health);
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
