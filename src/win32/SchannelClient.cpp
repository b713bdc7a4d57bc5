#include "win32/SchannelClient.h"

#include <array>
#include <cstring>

namespace umbrane::win32 {
namespace {

// The chain policy's own name check, left out when no host is given.
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

// What the system left unused of `bytes` (an extra buffer), or nothing.
std::string Unused(const std::string& bytes, const SecBuffer& extra) {
  return extra.BufferType == SECBUFFER_EXTRA ? bytes.substr(bytes.size() - extra.cbBuffer)
                                             : std::string();
}

}  // namespace

SchannelClient::~SchannelClient() {
  if (haveContext_) {
    DeleteSecurityContext(&context_);
  }
}

bool SchannelClient::Available() {
  return Credentials() != nullptr;
}

SECURITY_STATUS SchannelClient::Initialize(const std::string& target, SecBufferDesc* input,
                                           std::string& output) {
  SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc outputDescription{SECBUFFER_VERSION, 1, &token};
  ULONG attributes = 0;
  std::string name = target;
  const SECURITY_STATUS status = InitializeSecurityContextA(
      Credentials(), haveContext_ ? &context_ : nullptr, name.data(), kContextFlags, 0, 0, input, 0,
      haveContext_ ? nullptr : &context_, &outputDescription, &attributes, nullptr);
  if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) {
    haveContext_ = true;
  }
  if (token.pvBuffer != nullptr) {
    output.assign(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
  }
  return status;
}

SECURITY_STATUS SchannelClient::Handshake(const std::string& target, std::string& received,
                                          std::string& reply) {
  if (Credentials() == nullptr) {
    return SEC_E_NO_CREDENTIALS;
  }
  SecBuffer in[2] = {
      {static_cast<unsigned long>(received.size()), SECBUFFER_TOKEN, received.data()},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
  const bool first = !haveContext_;
  const SECURITY_STATUS status = Initialize(target, first ? nullptr : &inDescription, reply);
  const bool goesOn = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK ||
                      status == SEC_I_INCOMPLETE_CREDENTIALS;
  if (!first && goesOn) {
    // What the system did not use belongs to the next step (or, at the end,
    // to the first records of the connection).
    received = Unused(received, in[1]);
  }
  return status;
}

bool SchannelClient::Established() {
  SecPkgContext_ConnectionInfo connection{};
  return QueryContextAttributesA(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK &&
         (connection.dwProtocol & kProtocols) != 0 &&
         QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) == SEC_E_OK;
}

PCCERT_CONTEXT SchannelClient::PeerCertificate() {
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
      SEC_E_OK) {
    return nullptr;
  }
  return certificate;
}

bool SchannelClient::Encrypt(std::string_view data, std::string& record) {
  if (data.size() > sizes_.cbMaximumMessage) {
    return false;
  }
  record.assign(sizes_.cbHeader + data.size() + sizes_.cbTrailer, '\0');
  std::memcpy(record.data() + sizes_.cbHeader, data.data(), data.size());
  SecBuffer buffers[4] = {
      {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
      {static_cast<unsigned long>(data.size()), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
      {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + data.size()},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
  if (EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK) {
    return false;
  }
  record.resize(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
  return true;
}

SchannelClient::Decrypted SchannelClient::Decrypt(std::string& cipher, std::string& plain) {
  if (cipher.empty()) {
    return Decrypted::More;
  }
  // An alert record (TLS 1.2's outer type 21): some systems report the
  // peer's close_notify as an empty record instead of the context's end.
  const bool alert = cipher[0] == '\x15';
  SecBuffer buffers[4] = {
      {static_cast<unsigned long>(cipher.size()), SECBUFFER_DATA, cipher.data()},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr},
      {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
  const SECURITY_STATUS status = DecryptMessage(&context_, &description, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    return Decrypted::More;
  }
  if (status == SEC_I_CONTEXT_EXPIRED) {
    return Decrypted::Ended;  // the peer's close_notify
  }
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
    return Decrypted::Broken;
  }
  std::string extra;
  std::size_t decrypted = 0;
  for (const SecBuffer& buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA) {
      plain.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      decrypted += buffer.cbBuffer;
    } else if (buffer.BufferType == SECBUFFER_EXTRA) {
      extra.assign(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
    }
  }
  cipher = std::move(extra);
  if (status == SEC_E_OK && decrypted == 0 && alert) {
    return Decrypted::Ended;
  }
  if (status == SEC_I_RENEGOTIATE) {
    // A handshake message after the handshake (a TLS 1.3 session ticket,
    // say): the system takes it; nothing is to be answered.
    SecBuffer in[2] = {{static_cast<unsigned long>(cipher.size()), SECBUFFER_TOKEN, cipher.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
    std::string ignored;
    if (Initialize("", &inDescription, ignored) != SEC_E_OK) {
      return Decrypted::Broken;
    }
    cipher = Unused(cipher, in[1]);
  }
  return Decrypted::Some;
}

std::string SchannelClient::CloseNotify() {
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control{sizeof type, SECBUFFER_TOKEN, &type};
  SecBufferDesc controlDescription{SECBUFFER_VERSION, 1, &control};
  std::string alert;
  if (ApplyControlToken(&context_, &controlDescription) == SEC_E_OK) {
    Initialize("", nullptr, alert);
  }
  return alert;
}

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

bool ChainTrusted(PCCERT_CONTEXT certificate, const std::string* host) {
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
  std::wstring name = host != nullptr ? std::wstring(host->begin(), host->end()) : L"";
  HTTPSPolicyCallbackData ssl{};
  ssl.cbStruct = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  if (host != nullptr) {
    ssl.pwszServerName = name.data();
  } else {
    ssl.fdwChecks = kIgnoreCommonName;
  }
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

}  // namespace umbrane::win32
