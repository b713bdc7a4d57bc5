// warden: the tunnel agent. It checks its relay (an HTTP proxy with Basic
// authentication), serves SOCKS4, SOCKS4a, SOCKS5 and HTTP proxy requests on
// 127.0.0.1 at the port of "-H", and carries every client connection through
// its own CONNECT to the relay. One status line per event on standard output,
// "CODE text" and CR LF; it runs until it is terminated.
//
//   warden -name USER -key TOKEN -do -H LOCALPORT -umbrane -port RELAYPORT -say RELAYIP
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <asio.hpp>

#include "Handshake.h"
#include "Limits.h"
#include "Relay.h"
#include "RelayPool.h"
#include "RequestStream.h"

namespace warden {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

constexpr auto kConnectTimeout = 10s;
constexpr auto kHealthInterval = 10s;
// A connection with no byte either way for this long is closed.
constexpr auto kIdleTimeout = 600s;
constexpr auto kIdleCheck = 30s;
// Verified connections to the relay kept open for the next clients.
constexpr std::size_t kReadyRelays = 4;

void Status(const char* code, const std::string& text) {
  const std::string line = std::string(code) + " " + text + "\r\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

[[noreturn]] void RunUntilTerminated() {
  for (;;) {
    std::this_thread::sleep_for(24h);
  }
}

// A failure that stops the agent: its own code, then "160033", which is what
// makes Umbrane end the agent and try again (or ask the user), and then
// silence until it is terminated.
[[noreturn]] void Stop(const char* code, const std::string& text) {
  Status(code, text);
  if (std::string(code) != "160033") {
    Status("160033", "the agent cannot go on");
  }
  RunUntilTerminated();
}

struct Options {
  std::string user;
  std::string token;
  std::uint16_t localPort = 0;
  std::uint16_t relayPort = 0;
  std::string relayAddress;
};

std::optional<std::uint16_t> PortNumber(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& problem) {
  std::map<std::string, std::string> values;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "-do" || name == "-umbrane") {
      continue;
    }
    if ((name == "-name" || name == "-key" || name == "-H" || name == "-port" || name == "-say") &&
        i + 1 < argc) {
      values[name] = argv[++i];
      continue;
    }
    problem = "unknown or incomplete option " + name;
    return std::nullopt;
  }
  for (const char* required : {"-name", "-key", "-H", "-port", "-say"}) {
    if (values.count(required) == 0) {
      problem = std::string("missing ") + required;
      return std::nullopt;
    }
  }
  Options options;
  options.user = values["-name"];
  options.token = values["-key"];
  options.relayAddress = values["-say"];
  const auto local = PortNumber(values["-H"]);
  const auto relay = PortNumber(values["-port"]);
  if (!local || !relay) {
    problem = "a port is not a number from 1 to 65535";
    return std::nullopt;
  }
  options.localPort = *local;
  options.relayPort = *relay;
  return options;
}

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

// The buffers that carry bytes, lent per read and given back once the bytes
// are written: memory follows the traffic, not the number of connections.
// Everything runs on the one thread of the io_context, so no lock.
using PumpBuffer = std::array<char, 64 * 1024>;
constexpr std::size_t kPooledBuffers = 64;  // kept for reuse; more are freed

std::vector<std::unique_ptr<PumpBuffer>>& FreeBuffers() {
  static std::vector<std::unique_ptr<PumpBuffer>> free;
  return free;
}

std::shared_ptr<PumpBuffer> LendBuffer() {
  auto& free = FreeBuffers();
  std::unique_ptr<PumpBuffer> buffer;
  if (free.empty()) {
    buffer = std::make_unique<PumpBuffer>();
  } else {
    buffer = std::move(free.back());
    free.pop_back();
  }
  return std::shared_ptr<PumpBuffer>(buffer.release(), [](PumpBuffer* returned) {
    if (FreeBuffers().size() < kPooledBuffers) {
      FreeBuffers().emplace_back(returned);
    } else {
      delete returned;
    }
  });
}

// The relay's answer head, read as it comes, never more than kMaxHead, into
// `head`; `done(error, size)` with the head's size up to its blank line, or
// npos when it did not end within the limit. `relay` and `head` must live
// until `done`.
template <typename Done>
void ReadAnswerHead(RelayChannel& relay, std::string& head, Done done) {
  relay.AsyncWaitRead([&relay, &head, done](asio::error_code ec) {
    std::array<char, 4096> chunk;
    const std::size_t n = ec ? 0 : relay.Read(asio::buffer(chunk), ec);
    if (ec == asio::error::would_block) {
      ReadAnswerHead(relay, head, done);
      return;
    }
    head.append(chunk.data(), n);
    const std::size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos && !ec && head.size() <= kMaxHead) {
      ReadAnswerHead(relay, head, done);
      return;
    }
    done(ec, end == std::string::npos || end + 4 > kMaxHead ? std::string::npos : end + 4);
  });
}

class Session;

// The sessions alive, and those whose client has not yet finished its
// greeting, oldest first: when the system runs out of descriptors the
// oldest silent client makes room for the next one.
class Sessions {
 public:
  std::size_t Live() const { return live_; }
  std::list<Session*>::iterator Started(Session* session) {
    ++live_;
    return greeting_.insert(greeting_.end(), session);
  }
  void Greeted(std::list<Session*>::iterator& entry) {
    if (entry != greeting_.end()) {
      greeting_.erase(entry);
      entry = greeting_.end();
    }
  }
  void Ended(std::list<Session*>::iterator& entry) {
    Greeted(entry);
    --live_;
  }
  // Closes the oldest session still waiting for its client; false when
  // there is none.
  bool CloseOldestSilent();

 private:
  std::size_t live_ = 0;
  std::list<Session*> greeting_;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket client, const Options& options, RelayPool& relays, Sessions& sessions)
      : client_(std::move(client)),
        timer_(client_.get_executor()),
        options_(options),
        relays_(relays),
        sessions_(sessions),
        entry_(sessions.Started(this)) {}
  ~Session() { sessions_.Ended(entry_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Start() {
    // A client that has not said what it wants by then is let go.
    auto self = shared_from_this();
    timer_.expires_after(kGreetingTime);
    timer_.async_wait([self](asio::error_code ec) {
      if (!ec) {
        self->Close();
      }
    });
    ReadHandshake();
  }

  void Close() {
    asio::error_code ignored;
    timer_.cancel();
    client_.close(ignored);
    if (relay_) {
      relay_->Socket().close(ignored);
    }
    closed_ = true;
  }

  // Makes room: its descriptor is free at once, and the session ends when
  // its handlers have run.
  void Evict() {
    sessions_.Greeted(entry_);
    Close();
  }

 private:
  void ReadHandshake() {
    auto self = shared_from_this();
    if (!greeting_) {
      greeting_ = std::make_unique<std::array<char, 4096>>();
    }
    client_.async_read_some(asio::buffer(*greeting_), [self](asio::error_code ec, std::size_t n) {
      if (ec) {
        return;
      }
      self->received_.append(self->greeting_->data(), n);
      switch (self->handshake_.Feed(self->received_)) {
        case Handshake::Step::NeedMore:
          self->ReadHandshake();
          break;
        case Handshake::Step::Reply:
          self->SendClient(self->handshake_.Reply(), [self] { self->ReadHandshake(); });
          break;
        case Handshake::Step::Refuse:
          self->SendClient(self->handshake_.Reply(), [self] { self->Close(); });
          break;
        case Handshake::Step::Ready:
          self->sessions_.Greeted(self->entry_);
          self->timer_.cancel();
          self->ConnectRelay(false);
          break;
      }
    });
  }

  // A verified connection to the relay: one kept ready, or a new one.
  // A client that has spoken goes before one that has not: out of
  // descriptors, the oldest silent client makes room for the relay's.
  void ConnectRelay(bool madeRoom) {
    auto self = shared_from_this();
    relays_.Take([self, madeRoom](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
      if (self->closed_) {
        return;
      }
      if (ec == asio::error::no_descriptors && !madeRoom && self->sessions_.CloseOldestSilent()) {
        self->ConnectRelay(true);
        return;
      }
      if (ec) {
        self->Fail();
        return;
      }
      self->relay_ = std::move(channel);
      self->Connected();
    });
  }

  void Connected() {
    auto self = shared_from_this();
    if (handshake_.Kind() == Protocol::HttpForward) {
      // This request and every later one on the connection go on with our
      // credentials; the relay's answers come back as they are.
      requests_ = std::make_unique<RequestStream>(options_.user, options_.token);
      const std::string received = std::move(received_);
      Splice(false);
      ForwardRequests(received);
      return;
    }
    timer_.expires_after(kConnectTimeout);
    timer_.async_wait([self](asio::error_code ec) {
      if (!ec) {
        self->Close();
      }
    });
    SendRelay(ConnectRequest(handshake_.TargetHost().Authority(), options_.user, options_.token),
              [self] { self->ReadRelayAnswer(); });
  }

  void ReadRelayAnswer() {
    auto self = shared_from_this();
    ReadAnswerHead(*relay_, relayIn_, [self](asio::error_code ec, std::size_t headSize) {
      self->timer_.cancel();
      if (self->closed_) {
        return;
      }
      if (ec || headSize == std::string::npos || StatusCode(self->relayIn_).value_or(0) != 200) {
        self->Fail();
        return;
      }
      const std::string early = self->relayIn_.substr(headSize);
      const std::string payload = self->received_.substr(self->handshake_.Consumed());
      self->SendClient(self->handshake_.Success() + early, [self, payload] {
        self->SendRelay(payload, [self] { self->Splice(true); });
      });
    });
  }

  void Fail() {
    auto self = shared_from_this();
    SendClient(handshake_.Failure(), [self] { self->Close(); });
  }

  template <typename Then>
  void SendClient(std::string data, Then then) {
    Send(std::move(data), then, [this](asio::const_buffer bytes, RelayChannel::Done done) {
      asio::async_write(client_, bytes, [done](asio::error_code ec, std::size_t) { done(ec); });
    });
  }

  template <typename Then>
  void SendRelay(std::string data, Then then) {
    Send(std::move(data), then, [this](asio::const_buffer bytes, RelayChannel::Done done) {
      relay_->AsyncWrite(bytes, std::move(done));
    });
  }

  // `data` through `write`, kept alive until written, then `then`; a write
  // that fails ends the session.
  template <typename Then, typename Write>
  void Send(std::string data, Then then, Write write) {
    if (data.empty()) {
      then();
      return;
    }
    auto self = shared_from_this();
    auto owned = std::make_shared<std::string>(std::move(data));
    write(asio::buffer(*owned), [self, owned, then](asio::error_code ec) {
      if (ec) {
        self->Close();
        return;
      }
      then();
    });
  }

  // Bytes both ways until both sides have finished; a side that ends its
  // sending gets its half-close passed on. The client's side is read as
  // proxy requests instead of opaque bytes when `clientOpaque` is false.
  void Splice(bool clientOpaque) {
    // What the handshake needed is not kept for the connection's life.
    greeting_.reset();
    std::string().swap(received_);
    std::string().swap(relayIn_);
    lastActivity_ = std::chrono::steady_clock::now();
    WatchIdle();
    asio::error_code ignored;
    client_.non_blocking(true, ignored);
    if (clientOpaque) {
      PumpToRelay();
    }
    PumpFromRelay();
  }

  // The client's requests: each is passed on with the credentials as soon
  // as it is known where it ends.
  void ForwardRequests(std::string_view received) {
    std::string out;
    if (requests_->Feed(received, out) == RequestStream::Result::Bad) {
      Close();  // not a request stream: nothing more may reach the relay
      return;
    }
    auto self = shared_from_this();
    SendRelay(std::move(out), [self] { self->ReadRequests(); });
  }

  // Waits until the client has bytes, then reads them into a buffer lent by
  // the pool only until they are written on: a held connection with nothing
  // to carry holds no buffer of ours. `got` is called with the bytes.
  template <typename Got>
  void ReadClient(Got got) {
    auto self = shared_from_this();
    client_.async_wait(tcp::socket::wait_read, [self, got](asio::error_code ec) {
      if (ec) {
        self->Close();
        return;
      }
      std::shared_ptr<PumpBuffer> buffer = LendBuffer();
      asio::error_code readError;
      const std::size_t n = self->client_.read_some(asio::buffer(*buffer), readError);
      if (readError == asio::error::would_block || readError == asio::error::try_again) {
        self->ReadClient(got);
        return;
      }
      if (readError) {
        if (readError == asio::error::eof) {
          self->relay_->ShutdownSend();
          self->DirectionEnded();
        } else {
          self->Close();
        }
        return;
      }
      self->lastActivity_ = std::chrono::steady_clock::now();
      got(std::move(buffer), n);
    });
  }

  void ReadRequests() {
    auto self = shared_from_this();
    ReadClient([self](std::shared_ptr<PumpBuffer> buffer, std::size_t n) {
      self->ForwardRequests(std::string_view(buffer->data(), n));
    });
  }

  void PumpToRelay() {
    auto self = shared_from_this();
    ReadClient([self](std::shared_ptr<PumpBuffer> buffer, std::size_t n) {
      self->relay_->AsyncWrite(asio::buffer(buffer->data(), n),
                               [self, buffer](asio::error_code ec) {
                                 if (ec) {
                                   self->Close();
                                   return;
                                 }
                                 self->PumpToRelay();
                               });
    });
  }

  void PumpFromRelay() {
    auto self = shared_from_this();
    relay_->AsyncWaitRead([self](asio::error_code ec) {
      if (ec || self->closed_) {
        self->Close();
        return;
      }
      std::shared_ptr<PumpBuffer> buffer = LendBuffer();
      asio::error_code readError;
      const std::size_t n = self->relay_->Read(asio::buffer(*buffer), readError);
      if (readError == asio::error::would_block) {
        self->PumpFromRelay();
        return;
      }
      if (readError) {
        if (readError == asio::error::eof) {
          asio::error_code ignored;
          self->client_.shutdown(tcp::socket::shutdown_send, ignored);
          self->DirectionEnded();
        } else {
          self->Close();
        }
        return;
      }
      self->lastActivity_ = std::chrono::steady_clock::now();
      asio::async_write(self->client_, asio::buffer(buffer->data(), n),
                        [self, buffer](asio::error_code writeError, std::size_t) {
                          if (writeError) {
                            self->Close();
                            return;
                          }
                          self->PumpFromRelay();
                        });
    });
  }

  void WatchIdle() {
    auto self = shared_from_this();
    timer_.expires_after(kIdleCheck);
    timer_.async_wait([self](asio::error_code ec) {
      if (ec || !self->client_.is_open()) {
        return;
      }
      if (std::chrono::steady_clock::now() - self->lastActivity_ > kIdleTimeout) {
        self->Close();
        return;
      }
      self->WatchIdle();
    });
  }

  // One side has ended its sending and the other side has been told; once
  // both have, the session is over and both sockets go at once.
  void DirectionEnded() {
    if (++directionsEnded_ == 2) {
      Close();
    }
  }

  tcp::socket client_;
  std::unique_ptr<RelayChannel> relay_;
  asio::steady_timer timer_;
  const Options& options_;
  RelayPool& relays_;
  Handshake handshake_;
  std::unique_ptr<RequestStream> requests_;           // a plain HTTP client's requests
  std::unique_ptr<std::array<char, 4096>> greeting_;  // only until the handshake is done
  std::string received_;
  std::string relayIn_;
  std::chrono::steady_clock::time_point lastActivity_;
  Sessions& sessions_;
  std::list<Session*>::iterator entry_;  // among the sessions still greeting
  int directionsEnded_ = 0;
  bool closed_ = false;
};

bool Sessions::CloseOldestSilent() {
  if (greeting_.empty()) {
    return false;
  }
  greeting_.front()->Evict();
  return true;
}

class Server {
 public:
  Server(asio::io_context& io, tcp::acceptor acceptor, const Options& options,
         const tcp::endpoint& relay, RelayPool& relays)
      : io_(io),
        acceptor_(std::move(acceptor)),
        health_(io),
        pause_(io),
        options_(options),
        relay_(relay),
        relays_(relays) {}

  void Start() {
    relays_.KeepReady(kReadyRelays);
    Accept();
    CheckRelay();
  }

 private:
  void Accept() {
    acceptor_.async_accept([this](asio::error_code ec, tcp::socket client) {
      if (ec && ec != asio::error::connection_aborted) {
        // Out of descriptors (or memory): the oldest client that has not
        // said anything yet makes room; with none, accepting waits a moment
        // instead of failing again at once in a loop, and goes on as
        // descriptors free.
        if (sessions_.CloseOldestSilent()) {
          Accept();
        } else {
          pause_.expires_after(kAcceptPause);
          pause_.async_wait([this](asio::error_code) { Accept(); });
        }
        return;
      }
      if (!ec && sessions_.Live() >= kMaxClients) {
        asio::error_code ignored;
        client.close(ignored);  // at once: a client left waiting would hold on for nothing
      } else if (!ec) {
        std::make_shared<Session>(std::move(client), options_, relays_, sessions_)->Start();
      }
      Accept();
    });
  }

  // A relay that stops answering is reported once, until it answers again.
  void CheckRelay() {
    health_.expires_after(kHealthInterval);
    health_.async_wait([this](asio::error_code ec) {
      if (ec) {
        return;
      }
      auto probe = std::make_shared<tcp::socket>(io_);
      probe->async_connect(relay_, [this, probe](asio::error_code connectError) {
        if (connectError && !lost_) {
          Status("160037", "lost the relay " + relay_.address().to_string());
        } else if (!connectError && lost_) {
          // Ready again: Umbrane switches the browsers back to the tunnel.
          Status("160138", "the relay answers again; accepting proxy connections");
        }
        lost_ = static_cast<bool>(connectError);
        if (!lost_) {
          relays_.KeepReady(kReadyRelays);
        }
        CheckRelay();
      });
    });
  }

  asio::io_context& io_;
  tcp::acceptor acceptor_;
  asio::steady_timer health_;
  asio::steady_timer pause_;
  const Options& options_;
  const tcp::endpoint& relay_;
  RelayPool& relays_;
  Sessions sessions_;
  bool lost_ = false;
};

int Run(int argc, char** argv) {
  std::string problem;
  const auto options = ParseOptions(argc, argv, problem);
  if (!options) {
    Status("171001", "bad command line: " + problem);
    return 2;
  }
  asio::error_code ec;
  const auto relayAddress = asio::ip::make_address(options->relayAddress, ec);
  if (ec) {
    Status("171001", "bad relay address " + options->relayAddress);
    return 2;
  }
  const tcp::endpoint relay(relayAddress, options->relayPort);
  const std::string relayName = relay.address().to_string() + ":" + std::to_string(relay.port());
  asio::io_context io;
  Status("160036", "preparing");

  Status("160032", "connecting to the relay " + relayName);
  RelayPool relays(io, relay, RelayTrust{options->relayAddress, RelayPin()});
  std::unique_ptr<RelayChannel> channel;
  bool opened = false;
  asio::error_code openError;
  relays.Open([&](asio::error_code e, std::unique_ptr<RelayChannel> made) {
    openError = e;
    channel = std::move(made);
    opened = true;
  });
  io.restart();
  io.run();  // the pool's own time-out bounds it
  if (openError == asio::error::access_denied && channel) {
    // Not the relay, or not provably: it gets nothing of ours.
    Stop("160244", "the relay could not be verified: " + channel->Problem());
  }
  if (openError == asio::error::operation_aborted) {
    Stop("110033", "no answer from the relay " + relayName);
  }
  if (openError) {
    Stop("160033", "cannot reach the relay " + relayName + ": " + openError.message());
  }

  Status("160238", "the relay checks the credentials");
  const std::string check = ConnectRequest(relayName, options->user, options->token);
  std::string answer;
  bool answered = false;
  asio::error_code answerError;
  channel->AsyncWrite(asio::buffer(check), [&](asio::error_code e) {
    if (e) {
      answerError = e;
      answered = true;
      return;
    }
    ReadAnswerHead(*channel, answer, [&](asio::error_code readError, std::size_t) {
      answerError = readError;
      answered = true;
    });
  });
  if (!RunWithin(io, answered, kConnectTimeout, [&] { channel->Socket().close(ec); })) {
    Stop("110033", "the relay did not answer the credentials check");
  }
  channel.reset();
  const int status = StatusCode(answer).value_or(0);
  if (answerError || status != 200) {
    if (CredentialsRefused(status)) {
      Stop("160244", "the relay refused the credentials");
    }
    Stop("160033", "the relay answered " + std::to_string(status));
  }
  Status("160239", "the relay accepted the credentials");

  // Only the loopback address is ever bound.
  tcp::acceptor acceptor(io);
  const tcp::endpoint local(asio::ip::make_address_v4("127.0.0.1"), options->localPort);
  acceptor.open(local.protocol(), ec);
  if (!ec) {
#ifdef _WIN32
    // Windows lets another program bind the same port unless told not to;
    // its closed connections never keep the port from being listened on.
    using ExclusiveUse = asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    acceptor.set_option(ExclusiveUse(true), ec);
#else
    // The closed connections of heavy use linger on the port for a while:
    // listening again must not wait for them.
    acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
  }
  if (!ec) {
    acceptor.bind(local, ec);
  }
  if (!ec) {
    acceptor.listen(asio::socket_base::max_listen_connections, ec);
  }
  if (ec) {
    Stop("171001",
         "cannot listen on 127.0.0.1:" + std::to_string(options->localPort) + ": " + ec.message());
  }
  Status("160138",
         "accepting proxy connections on 127.0.0.1:" + std::to_string(options->localPort));
  Server server(io, std::move(acceptor), *options, relay, relays);
  server.Start();
  io.restart();
  io.run();
  return 0;
}

}  // namespace
}  // namespace warden

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)_setmode(_fileno(stdout), _O_BINARY);  // CR LF exactly as written
#endif
  return warden::Run(argc, argv);
}
