// The agent with a clear-text connection to its relay, for the benchmark
// only (its peer is stunnel's client mode doing the TLS): never built into
// an agent that is shipped or tested.
#include "tls/RelayChannel.h"

namespace warden {
namespace {

class PlainChannel final : public RelayChannel {
 public:
  explicit PlainChannel(const asio::any_io_executor& executor) : RelayChannel(executor) {}

  void AsyncHandshake(Done done) override {
    asio::error_code ec;
    socket_.non_blocking(true, ec);
    asio::post(socket_.get_executor(), [done, ec] { done(ec); });
  }
  void AsyncWaitRead(Done done) override {
    socket_.async_wait(tcp::socket::wait_read, std::move(done));
  }
  std::size_t Read(asio::mutable_buffer into, asio::error_code& ec) override {
    return socket_.read_some(into, ec);
  }
  void AsyncWrite(asio::const_buffer data, Done done) override {
    asio::async_write(socket_, data, [done](asio::error_code ec, std::size_t) { done(ec); });
  }
  void ShutdownSend() override {
    asio::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
  }
};

}  // namespace

std::unique_ptr<RelayChannel> MakeRelayChannel(const asio::any_io_executor& executor,
                                               const RelayTrust&) {
  return std::make_unique<PlainChannel>(executor);
}

}  // namespace warden
