// The relay's TLS on Windows: the system's own (Schannel, through SSPI), so
// that nothing is shipped and the relay is checked against the roots the
// system trusts, kept current by Windows Update. The system is asked to do
// the handshake only; the relay's certificate is checked here, after it,
// before anything of ours is sent: its chain (the system's chain engine),
// the relay's address among its names; or, in a build with pins, only its
// key (the store is not consulted, a self-signed certificate will do).
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <subauth.h>  // UNICODE_STRING, which the newer credentials use
// The newer credentials structure (TLS 1.3) is declared only with this.
#define SCHANNEL_USE_BLACKLISTS
#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "RelayChannel.h"

namespace warden {
namespace {

// The chain policy's own name check is not used (the address is checked
// separately, against the certificate's IP names).
constexpr DWORD kIgnoreCommonName = 0x00001000;
constexpr DWORD kProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
constexpr DWORD kCredentialFlags =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_MANUAL_CRED_VALIDATION;

// One credential for every connection: TLS 1.2 and 1.3 only. Newer systems
// take the newer structure (needed for 1.3); older ones the classic one.
CredHandle* Credentials() {
  static CredHandle handle;
  static const bool made = [] {
    TimeStamp expiry;
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = ~kProtocols;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = kCredentialFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    char package[] = UNISP_NAME_A;
    if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &modern, nullptr,
                                  nullptr, &handle, &expiry) == SEC_E_OK) {
      return true;
    }
    for (const DWORD protocols : {kProtocols, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
      SCHANNEL_CRED classic{};
      classic.dwVersion = SCHANNEL_CRED_VERSION;
      classic.grbitEnabledProtocols = protocols;
      classic.dwFlags = kCredentialFlags;
      if (AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &classic,
                                    nullptr, nullptr, &handle, &expiry) == SEC_E_OK) {
        return true;
      }
    }
    return false;
  }();
  return made ? &handle : nullptr;
}

std::string Hex(SECURITY_STATUS status) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

// The certificate chains to a root the system trusts, for server use.
bool ChainTrusted(PCCERT_CONTEXT certificate) {
  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  LPSTR usages[] = {serverAuth};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &para, 0,
                               nullptr, &chain)) {
    return false;
  }
  HTTPSPolicyCallbackData ssl{};
  ssl.cbStruct = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = kIgnoreCommonName;
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  const bool trusted =
      CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status) &&
      status.dwError == 0;
  CertFreeCertificateChain(chain);
  return trusted;
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

// The SHA-256 of the certificate's SubjectPublicKeyInfo, or empty.
std::string KeyDigest(PCCERT_CONTEXT certificate) {
  BYTE* der = nullptr;
  DWORD size = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                           &certificate->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG,
                           nullptr, &der, &size)) {
    return {};
  }
  std::array<BYTE, 32> hash{};
  DWORD hashSize = hash.size();
  const bool hashed = CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, der, size,
                                            hash.data(), &hashSize) &&
                      hashSize == hash.size();
  LocalFree(der);
  return hashed ? std::string(reinterpret_cast<const char*>(hash.data()), hash.size())
                : std::string();
}

class SchannelChannel final : public RelayChannel {
 public:
  SchannelChannel(const asio::any_io_executor& executor, const RelayTrust& trust)
      : RelayChannel(executor), trust_(trust) {}
  ~SchannelChannel() override {
    if (haveContext_) {
      DeleteSecurityContext(&context_);
    }
  }
  SchannelChannel(const SchannelChannel&) = delete;
  SchannelChannel& operator=(const SchannelChannel&) = delete;

  void AsyncHandshake(Done done) override {
    if (Credentials() == nullptr) {
      Fail(done, "the system offers no TLS 1.2 or newer");
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
        Decrypt();
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
    const std::size_t chunk = std::min<std::size_t>(data.size(), sizes_.cbMaximumMessage);
    auto record = std::make_shared<std::vector<char>>(sizes_.cbHeader + chunk + sizes_.cbTrailer);
    std::memcpy(record->data() + sizes_.cbHeader, data.data(), chunk);
    SecBuffer buffers[4] = {
        {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record->data()},
        {static_cast<unsigned long>(chunk), SECBUFFER_DATA, record->data() + sizes_.cbHeader},
        {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record->data() + sizes_.cbHeader + chunk},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    if (EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK) {
      asio::post(socket_.get_executor(), [done] { done(asio::error::connection_reset); });
      return;
    }
    record->resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    asio::async_write(socket_, asio::buffer(*record),
                      [this, record, data, chunk, done](asio::error_code ec, std::size_t) {
                        if (ec) {
                          done(ec);
                        } else {
                          AsyncWrite(data + chunk, done);
                        }
                      });
  }

  void ShutdownSend() override {
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
    if (ApplyControlToken(&context_, &controlDescription) != SEC_E_OK) {
      return;
    }
    std::string alert;
    Initialize(nullptr, alert);
    if (!alert.empty()) {
      auto owned = std::make_shared<std::string>(std::move(alert));
      asio::async_write(socket_, asio::buffer(*owned), [owned](asio::error_code, std::size_t) {});
    }
  }

 private:
  // One call of the system's handshake: `input` (the relay's bytes) in,
  // what to send back in `output`.
  SECURITY_STATUS Initialize(SecBufferDesc* input, std::string& output) {
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, &token};
    ULONG attributes = 0;
    std::string target = trust_.address;
    const SECURITY_STATUS status = InitializeSecurityContextA(
        Credentials(), haveContext_ ? &context_ : nullptr, target.data(), kContextFlags, 0, 0,
        input, 0, haveContext_ ? nullptr : &context_, &outputDescription, &attributes, nullptr);
    if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
      haveContext_ = true;
    }
    if (token.pvBuffer != nullptr) {
      output.assign(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
      FreeContextBuffer(token.pvBuffer);
    }
    return status;
  }

  void HandshakeStep(Done done) {
    SecBuffer in[2] = {
        {static_cast<unsigned long>(cipher_.size()), SECBUFFER_TOKEN, cipher_.data()},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
    std::string reply;
    const SECURITY_STATUS status = Initialize(haveContext_ ? &inDescription : nullptr, reply);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      ReadForHandshake(std::move(done));
      return;
    }
    const bool goesOn = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK ||
                        status == SEC_I_INCOMPLETE_CREDENTIALS;
    if (haveContext_ && goesOn) {
      // What the system did not use belongs to the next step (or, at the
      // end, to the first records of the connection).
      cipher_ = in[1].BufferType == SECBUFFER_EXTRA
                    ? cipher_.substr(cipher_.size() - in[1].cbBuffer)
                    : std::string();
    }
    auto owned = std::make_shared<std::string>(std::move(reply));
    auto next = [this, status, goesOn, done, owned](asio::error_code ec, std::size_t) {
      if (ec) {
        done(ec);
      } else if (!goesOn) {
        Fail(done, "the TLS handshake failed (" + Hex(status) + ")");
      } else if (status == SEC_E_OK) {
        Established(done);
      } else if (status == SEC_I_INCOMPLETE_CREDENTIALS || !cipher_.empty()) {
        HandshakeStep(done);
      } else {
        ReadForHandshake(done);
      }
    };
    if (owned->empty()) {
      asio::post(socket_.get_executor(), [next] { next({}, 0); });
    } else {
      // Sent even on failure: it is then the alert that tells the relay why.
      asio::async_write(socket_, asio::buffer(*owned), next);
    }
  }

  void ReadForHandshake(Done done) {
    auto chunk = std::make_shared<std::array<char, 16 * 1024>>();
    socket_.async_read_some(asio::buffer(*chunk),
                            [this, chunk, done](asio::error_code ec, std::size_t n) {
                              if (ec) {
                                Fail(done, "the relay ended the TLS handshake");
                                return;
                              }
                              cipher_.append(chunk->data(), n);
                              HandshakeStep(done);
                            });
  }

  void Established(const Done& done) {
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK ||
        (connection.dwProtocol & kProtocols) == 0) {
      Fail(done, "the relay offers no TLS 1.2 or newer");
      return;
    }
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK) {
      Fail(done, "the system reports no record sizes");
      return;
    }
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        certificate == nullptr) {
      Fail(done, "the relay showed no certificate");
      return;
    }
    std::string problem;
    if (!trust_.pins.empty()) {
      if (!PinMatches(trust_.pins, KeyDigest(certificate))) {
        problem = "the relay's key is not the pinned one";
      }
    } else if (!ChainTrusted(certificate)) {
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

  // Decrypts what it can of `cipher_` into `plain_`.
  void Decrypt() {
    // An alert record (TLS 1.2's outer type 21): some systems report the
    // relay's close_notify as an empty record instead of the context's end.
    const bool alert = cipher_[0] == '\x15';
    SecBuffer buffers[4] = {
        {static_cast<unsigned long>(cipher_.size()), SECBUFFER_DATA, cipher_.data()},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needMore_ = true;
      return;
    }
    if (status == SEC_I_CONTEXT_EXPIRED) {
      ended_ = true;  // the relay's close_notify
      return;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
      broken_ = true;
      return;
    }
    std::string extra;
    std::size_t decrypted = 0;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA) {
        plain_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
        decrypted += buffer.cbBuffer;
      } else if (buffer.BufferType == SECBUFFER_EXTRA) {
        extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      }
    }
    cipher_ = std::move(extra);
    if (status == SEC_E_OK && decrypted == 0 && alert) {
      ended_ = true;
      return;
    }
    if (status == SEC_I_RENEGOTIATE) {
      // A handshake message after the handshake (a TLS 1.3 session ticket,
      // say): the system takes it; nothing is to be answered.
      SecBuffer in[2] = {
          {static_cast<unsigned long>(cipher_.size()), SECBUFFER_TOKEN, cipher_.data()},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
      std::string ignored;
      const SECURITY_STATUS again = Initialize(&inDescription, ignored);
      if (again != SEC_E_OK) {
        broken_ = true;
        return;
      }
      cipher_ = in[1].BufferType == SECBUFFER_EXTRA
                    ? cipher_.substr(cipher_.size() - in[1].cbBuffer)
                    : std::string();
    }
  }

  void Fail(const Done& done, std::string problem) {
    problem_ = std::move(problem);
    asio::post(socket_.get_executor(), [done] { done(asio::error::access_denied); });
  }

  RelayTrust trust_;
  CtxtHandle context_{};
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_{};
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
