// The client side of a TLS connection by the system's own library (Schannel,
// through SSPI): TLS 1.2 and 1.3 only, the peer's certificate left to the
// caller to judge before anything of its own is sent. The bytes travel by
// the caller's means (a blocking socket, Asio): this holds no socket. Both
// the program's update check and the agent's relay connection use it.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <subauth.h>  // UNICODE_STRING, which the newer credentials use
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
// The newer credentials structure (TLS 1.3) is declared only with this.
#ifndef SCHANNEL_USE_BLACKLISTS
#define SCHANNEL_USE_BLACKLISTS
#endif
#include <schannel.h>

#include <string>
#include <string_view>

namespace umbrane::win32 {

class SchannelClient {
 public:
  SchannelClient() = default;
  ~SchannelClient();
  SchannelClient(const SchannelClient&) = delete;
  SchannelClient& operator=(const SchannelClient&) = delete;

  // The system offers TLS 1.2 or newer.
  static bool Available();

  // One step of the handshake with `target` (the name the peer is asked
  // for) over `received`, the peer's bytes: what the system used is taken
  // from it, what is to be sent back is put in `reply` (send it even on a
  // failure: it is then the alert that tells the peer why). SEC_E_OK: done;
  // SEC_I_CONTINUE_NEEDED or SEC_I_INCOMPLETE_CREDENTIALS: send the reply,
  // then step again (with more of the peer's bytes when `received` is
  // empty); SEC_E_INCOMPLETE_MESSAGE: step again with more; anything else
  // failed.
  SECURITY_STATUS Handshake(const std::string& target, std::string& received, std::string& reply);
  // After the handshake: the protocol is TLS 1.2 or newer and the record
  // sizes are known.
  bool Established();
  // The peer's certificate (free it with CertFreeCertificateContext), or
  // null.
  PCCERT_CONTEXT PeerCertificate();

  // The most plain bytes one record carries.
  std::size_t MaxMessage() const { return sizes_.cbMaximumMessage; }
  // `data` (at most MaxMessage bytes) as one record.
  bool Encrypt(std::string_view data, std::string& record);

  enum class Decrypted { More, Some, Ended, Broken };
  // Decrypts what it can of `cipher` (what is left stays in it) onto
  // `plain`. More: a record is not whole yet; Ended: the peer's close_notify.
  Decrypted Decrypt(std::string& cipher, std::string& plain);
  // The close_notify alert to send, or empty.
  std::string CloseNotify();

 private:
  SECURITY_STATUS Initialize(const std::string& target, SecBufferDesc* input, std::string& output);

  CtxtHandle context_{};
  bool haveContext_ = false;
  SecPkgContext_StreamSizes sizes_{};
};

// The SHA-256 of the certificate's SubjectPublicKeyInfo, or empty.
std::string KeyDigest(PCCERT_CONTEXT certificate);

// The certificate chains to a root the system trusts, for server use; with
// a `host`, the certificate must also name it.
bool ChainTrusted(PCCERT_CONTEXT certificate, const std::string* host = nullptr);

}  // namespace umbrane::win32
