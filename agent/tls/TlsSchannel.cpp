// The relay's TLS on Windows: the system's own (Schannel, through SSPI), so
// that nothing is shipped and the relay is checked against the roots the
// system trusts, kept current by Windows Update. The system is asked to do
// the handshake only; the relay's certificate is checked here, after it,
// before anything of ours is sent: its chain (the system's chain engine),
// the relay's address among its names; or, in a build with pins, only its
// key (the store is not consulted, a self-signed certificate will do).
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "tls/RelayChannel.h"
#include "win32/SchannelClient.h"

namespace warden {
namespace {

std::string Hex(SECURITY_STATUS status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

// The certificate names `address` among its IP subject alternative names.
bool NamesAddress(PCCERT_CONTEXT certificate, const std::string& address) {
  asio::error_code ec;
  const asio::ip::address ip = asio::ip::make_address(address, ec);
  if (ec) {
    return false;
  }
  std::vector<unsigned char> wanted;
  if (ip.is_v4()) {
    const auto bytes = ip.to_v4().to_bytes();
    wanted.assign(bytes.begin(), bytes.end());
  } else {
    const auto bytes = ip.to_v6().to_bytes();
    wanted.assign(bytes.begin(), bytes.end());
  }
  const CERT_INFO* info = certificate->pCertInfo;
  PCERT_EXTENSION extension =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (extension == nullptr ||
      !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                           extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                           &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
            entry.IPAddress.cbData == wanted.size() &&
            std::memcmp(entry.IPAddress.pbData, wanted.data(), wanted.size()) == 0;
  }
  LocalFree(names);
  return found;
}

using umbrane::win32::SchannelClient;

class SchannelChannel final : public RelayChannel {
 public:
  SchannelChannel(const asio::any_io_executor& executor, const RelayTrust& trust)
      : RelayChannel(executor), trust_(trust) {}

  void AsyncHandshake(Done done) override {
    if (!SchannelClient::Available()) {
      Unreached(done, "the system offers no TLS 1.2 or newer");
      return;
    }
    HandshakeStep(std::move(done));
  }

  void AsyncWaitRead(Done done) override {
    if (!plain_.empty() || ended_ || broken_ || (!cipher_.empty() && !needMore_)) {
      asio::post(socket_.get_executor(), [done] { done({}); });
      return;
    }
    socket_.async_wait(tcp::socket::wait_read, std::move(done));
  }

  std::size_t Read(asio::mutable_buffer into, asio::error_code& ec) override {
    ec = {};
    for (;;) {
      if (!plain_.empty()) {
        const std::size_t n = std::min(into.size(), plain_.size());
        std::memcpy(into.data(), plain_.data(), n);
        plain_.erase(0, n);
        return n;
      }
      if (broken_) {
        ec = asio::error::connection_reset;
        return 0;
      }
      if (ended_) {
        ec = asio::error::eof;
        return 0;
      }
      if (!cipher_.empty() && !needMore_) {
        switch (tls_.Decrypt(cipher_, plain_)) {
          case SchannelClient::Decrypted::More:
            needMore_ = true;
            break;
          case SchannelClient::Decrypted::Ended:
            ended_ = true;  // the relay's close_notify
            break;
          case SchannelClient::Decrypted::Broken:
            broken_ = true;
            break;
          case SchannelClient::Decrypted::Some:
            break;
        }
        continue;
      }
      std::array<char, 16 * 1024> chunk;
      const std::size_t n = socket_.read_some(asio::buffer(chunk), ec);
      if (ec == asio::error::eof) {
        // The connection ended without the relay's close_notify: what came
        // before may be cut short, so it is no clean end.
        ec = asio::error::connection_reset;
      }
      if (ec) {
        return 0;  // would_block, or the connection's failure
      }
      cipher_.append(chunk.data(), n);
      needMore_ = false;
    }
  }

  void AsyncWrite(asio::const_buffer data, Done done) override {
    if (data.size() == 0) {
      asio::post(socket_.get_executor(), [done] { done({}); });
      return;
    }
    const std::size_t chunk = std::min<std::size_t>(data.size(), tls_.MaxMessage());
    auto record = std::make_shared<std::string>();
    if (!tls_.Encrypt(std::string_view(static_cast<const char*>(data.data()), chunk), *record)) {
      asio::post(socket_.get_executor(), [done] { done(asio::error::connection_reset); });
      return;
    }
    asio::async_write(socket_, asio::buffer(*record),
                      [record, data, chunk, done, this](asio::error_code ec, std::size_t) {
                        if (ec) {
                          done(ec);
                        } else {
                          AsyncWrite(data + chunk, done);
                        }
                      });
  }

  void ShutdownSend() override {
    auto alert = std::make_shared<std::string>(tls_.CloseNotify());
    if (!alert->empty()) {
      asio::async_write(socket_, asio::buffer(*alert), [alert](asio::error_code, std::size_t) {});
    }
  }

 private:
  void HandshakeStep(Done done) {
    auto reply = std::make_shared<std::string>();
    const SECURITY_STATUS status = tls_.Handshake(trust_.address, cipher_, *reply);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      ReadForHandshake(std::move(done));
      return;
    }
    const bool goesOn = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK ||
                        status == SEC_I_INCOMPLETE_CREDENTIALS;
    auto next = [this, status, goesOn, done, reply](asio::error_code ec, std::size_t) {
      if (ec) {
        done(ec);
      } else if (!goesOn) {
        // The certificate is judged after the handshake, here: a handshake
        // that fails is a relay that cannot be reached, not someone else.
        Unreached(done, "the TLS handshake failed (" + Hex(status) + ")");
      } else if (status == SEC_E_OK) {
        Established(done);
      } else if (status == SEC_I_INCOMPLETE_CREDENTIALS || !cipher_.empty()) {
        HandshakeStep(done);
      } else {
        ReadForHandshake(done);
      }
    };
    if (reply->empty()) {
      asio::post(socket_.get_executor(), [next] { next({}, 0); });
    } else {
      // Sent even on failure: it is then the alert that tells the relay why.
      asio::async_write(socket_, asio::buffer(*reply), next);
    }
  }

  void ReadForHandshake(Done done) {
    auto chunk = std::make_shared<std::array<char, 16 * 1024>>();
    socket_.async_read_some(asio::buffer(*chunk),
                            [this, chunk, done](asio::error_code ec, std::size_t n) {
                              if (ec == asio::error::operation_aborted) {
                                done(ec);  // no answer in time
                              } else if (ec) {
                                Unreached(done, "the relay ended the TLS handshake");
                              } else {
                                cipher_.append(chunk->data(), n);
                                HandshakeStep(done);
                              }
                            });
  }

  void Established(const Done& done) {
    if (!tls_.Established()) {
      Unreached(done, "the relay offers no TLS 1.2 or newer");
      return;
    }
    PCCERT_CONTEXT certificate = tls_.PeerCertificate();
    if (certificate == nullptr) {
      Fail(done, "the relay showed no certificate");
      return;
    }
    std::string problem;
    if (!trust_.pins.empty()) {
      if (!PinMatches(trust_.pins, umbrane::win32::KeyDigest(certificate))) {
        problem = "the relay's key is not the pinned one";
      }
    } else if (!TrustsSystemRoots()) {
      problem = "no pin is known for this relay";
    } else if (!umbrane::win32::ChainTrusted(certificate)) {
      problem = "the relay's certificate does not chain to a trusted root";
    } else if (!NamesAddress(certificate, trust_.address)) {
      problem = "the relay's certificate does not name " + trust_.address;
    }
    CertFreeCertificateContext(certificate);
    if (!problem.empty()) {
      Fail(done, problem);
      return;
    }
    asio::error_code ec;
    socket_.non_blocking(true, ec);
    asio::post(socket_.get_executor(), [done, ec] { done(ec); });
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
  SchannelClient tls_;
  std::string cipher_;  // received, not yet decrypted
  std::string plain_;   // decrypted, not yet read
  bool needMore_ = false;
  bool ended_ = false;
  bool broken_ = false;
};

}  // namespace

std::unique_ptr<RelayChannel> MakeRelayChannel(const asio::any_io_executor& executor,
                                               const RelayTrust& trust) {
  return std::make_unique<SchannelChannel>(executor, trust);
}

}  // namespace warden
