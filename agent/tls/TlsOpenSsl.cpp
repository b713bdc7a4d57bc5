// The relay's TLS on OpenSSL (the native build: tests and benchmarks). The
// context comes from Asio's SSL layer; each connection drives its SSL
// object on the non-blocking socket itself, so the agent can wait for bytes
// without lending a buffer and pass a half-close on as close_notify.
//
// A pinned build compares the relay's key only. One that trusts the system's
// roots (tests) uses OpenSSL's default paths, which SSL_CERT_FILE replaces
// (the tests hand the agent their own authority's file that way).
#include <openssl/err.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <asio/ssl.hpp>

#include "tls/RelayChannel.h"

namespace warden {
namespace {

asio::ssl::context& SharedContext() {
  static asio::ssl::context context = [] {
    asio::ssl::context made(asio::ssl::context::tls_client);
    SSL_CTX* ctx = made.native_handle();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // A held connection with nothing to carry keeps no record buffers.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                              SSL_MODE_RELEASE_BUFFERS);
    if (TrustsSystemRoots()) {
      // Only a build that trusts the system's roots looks at them; a
      // pinned one knows the relay by its key alone.
      asio::error_code ignored;
      made.set_default_verify_paths(ignored);
    }
    return made;
  }();
  return context;
}

class OpenSslChannel final : public RelayChannel {
 public:
  OpenSslChannel(const asio::any_io_executor& executor, const RelayTrust& trust)
      : RelayChannel(executor), trust_(trust), ssl_(SSL_new(SharedContext().native_handle())) {}
  ~OpenSslChannel() override { SSL_free(ssl_); }
  OpenSslChannel(const OpenSslChannel&) = delete;
  OpenSslChannel& operator=(const OpenSslChannel&) = delete;

  void AsyncHandshake(Done done) override {
    asio::error_code ec;
    socket_.non_blocking(true, ec);
    if (ec || ssl_ == nullptr) {
      Unreached(done, "no TLS connection could be made");
      return;
    }
    SSL_set_fd(ssl_, static_cast<int>(socket_.native_handle()));
    if (trust_.pins.empty() && !TrustsSystemRoots()) {
      Fail(done, "no pin is known for this relay");
      return;
    }
    if (trust_.pins.empty()) {
      // The chain to a trusted root and the relay's address in the
      // certificate, checked during the handshake.
      SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
      if (X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), trust_.address.c_str()) != 1) {
        // Without it any certificate from a trusted authority would do.
        Fail(done, "the relay's address " + trust_.address + " cannot be checked");
        return;
      }
    } else {
      SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
    }
    SSL_set_connect_state(ssl_);
    Handshake(std::move(done));
  }

  void AsyncWaitRead(Done done) override {
    if (SSL_has_pending(ssl_) != 0) {
      asio::post(socket_.get_executor(), [done] { done({}); });
      return;
    }
    socket_.async_wait(tcp::socket::wait_read, std::move(done));
  }

  std::size_t Read(asio::mutable_buffer into, asio::error_code& ec) override {
    ec = {};
    ERR_clear_error();
    const int n = SSL_read(ssl_, into.data(), static_cast<int>(into.size()));
    if (n > 0) {
      return static_cast<std::size_t>(n);
    }
    switch (SSL_get_error(ssl_, n)) {
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_WANT_WRITE:
        ec = asio::error::would_block;
        break;
      case SSL_ERROR_ZERO_RETURN:
        ec = asio::error::eof;
        break;
      default:
        // Also a connection that ended without the relay's close_notify:
        // what came before may be cut short, so it is no clean end.
        ec = asio::error::connection_reset;
    }
    return 0;
  }

  void AsyncWrite(asio::const_buffer data, Done done) override {
    while (data.size() > 0) {
      ERR_clear_error();
      const int n = SSL_write(ssl_, data.data(), static_cast<int>(data.size()));
      if (n > 0) {
        data += static_cast<std::size_t>(n);
        continue;
      }
      const int error = SSL_get_error(ssl_, n);
      if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
        socket_.async_wait(
            error == SSL_ERROR_WANT_WRITE ? tcp::socket::wait_write : tcp::socket::wait_read,
            [this, data, done](asio::error_code ec) {
              if (ec) {
                done(ec);
              } else {
                AsyncWrite(data, done);
              }
            });
        return;
      }
      asio::post(socket_.get_executor(), [done] { done(asio::error::connection_reset); });
      return;
    }
    asio::post(socket_.get_executor(), [done] { done({}); });
  }

  void ShutdownSend() override {
    ERR_clear_error();
    SSL_shutdown(ssl_);  // sends close_notify; reading goes on
  }

 private:
  void Handshake(Done done) {
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) {
      Verified(done);
      return;
    }
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      socket_.async_wait(
          error == SSL_ERROR_WANT_READ ? tcp::socket::wait_read : tcp::socket::wait_write,
          [this, done](asio::error_code ec) {
            if (ec) {
              done(ec);
            } else {
              Handshake(done);
            }
          });
      return;
    }
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      Fail(done, std::string("the relay's certificate: ") + X509_verify_cert_error_string(verify));
      return;
    }
    // Closed, reset or refused before any certificate was judged: a relay
    // that cannot be reached (a block, a restart), not someone in between.
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    Unreached(done, std::string("the TLS handshake failed: ") +
                        (reason != nullptr ? reason : "the relay closed the connection"));
  }

  void Verified(const Done& done) {
    if (!trust_.pins.empty()) {
      X509* certificate = SSL_get1_peer_certificate(ssl_);
      std::string digest;
      unsigned char* der = nullptr;
      const int size =
          certificate != nullptr ? i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der) : -1;
      if (size > 0) {
        unsigned char hash[SHA256_DIGEST_LENGTH];
        SHA256(der, static_cast<std::size_t>(size), hash);
        digest.assign(reinterpret_cast<const char*>(hash), sizeof hash);
      }
      OPENSSL_free(der);
      X509_free(certificate);
      if (!PinMatches(trust_.pins, digest)) {
        Fail(done, "the relay's key is not the pinned one");
        return;
      }
    }
    asio::post(socket_.get_executor(), [done] { done({}); });
  }

  void Fail(const Done& done, std::string problem) {
    problem_ = std::move(problem);
    asio::post(socket_.get_executor(), [done] { done(asio::error::access_denied); });
  }

  void Unreached(const Done& done, std::string problem) {
    problem_ = std::move(problem);
    asio::post(socket_.get_executor(), [done] { done(asio::error::connection_reset); });
  }

  RelayTrust trust_;
  SSL* ssl_;
};

}  // namespace

std::unique_ptr<RelayChannel> MakeRelayChannel(const asio::any_io_executor& executor,
                                               const RelayTrust& trust) {
  return std::make_unique<OpenSslChannel>(executor, trust);
}

}  // namespace warden
