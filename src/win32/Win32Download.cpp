#include "win32/Win32Download.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>

#include "base/Text.h"
#include "update/Download.h"
#include "update/UpdateProxy.h"
#include "win32/SchannelClient.h"
#include "win32/Win32FileSystem.h"

namespace umbrane::win32 {
namespace {

using Clock = std::chrono::steady_clock;

struct Address {
  bool secure = false;
  std::string host;
  std::string port;
  std::string target;  // path and query
};

// "http(s)://host[:port]/target". Bytes that cannot stand in a request line
// (blanks, controls, non-ASCII) are escaped there, as a browser would;
// everything else goes as it is.
bool Split(const std::string& url, Address& address) {
  std::string_view rest = url;
  if (rest.starts_with("https://")) {
    address.secure = true;
    rest.remove_prefix(8);
  } else if (rest.starts_with("http://")) {
    rest.remove_prefix(7);
  } else {
    return false;
  }
  const std::size_t slash = std::min(rest.find('/'), rest.size());
  const std::string_view authority = rest.substr(0, slash);
  const std::size_t colon = authority.rfind(':');
  address.host = std::string(authority.substr(0, colon));
  if (colon == std::string_view::npos) {
    address.port.assign(address.secure ? "443" : "80");
  } else {
    address.port.assign(authority.substr(colon + 1));
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  if (slash == rest.size()) {
    address.target.push_back('/');
  }
  for (const char ch : rest.substr(slash)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      address.target.append({'%', kHex[c >> 4], kHex[c & 0xF]});
    } else {
      address.target.push_back(ch);
    }
  }
  return !address.host.empty();
}

DWORD MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<DWORD>(std::max<long long>(left, 0));
}

// One fetch over one connection: TCP, then TLS for https, and the service
// known by its key before a byte of the request is sent.
class Exchange {
 public:
  Exchange(SOCKET socket, Clock::time_point deadline) : socket_(socket), deadline_(deadline) {}

  // Through a proxy: a tunnel to `authority` (host:port) asked for, and its
  // answer read; true when the proxy opened it.
  bool Tunnel(const std::string& authority) {
    std::string ask = "CONNECT ";
    ask.append(authority).append(" HTTP/1.1\r\nHost: ").append(authority).append("\r\n\r\n");
    std::string head;
    if (!SendAll(ask)) {
      return false;
    }
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (head.size() > 8192 || !Receive(head)) {
        return false;
      }
    }
    // Nothing of the service's can come before our first TLS words.
    return head.starts_with("HTTP/1.") && head.size() > 12 && head.substr(9, 3) == "200" &&
           head.ends_with("\r\n\r\n");
  }

  // The handshake and the check of the service's certificate: `why` says
  // what failed when the certificate is not the one expected.
  bool Secure(const std::string& host, const std::vector<std::string>& pins, std::string& why) {
    if (!SchannelClient::Available()) {
      return false;
    }
    std::string received;
    for (;;) {
      std::string reply;
      const SECURITY_STATUS status = tls_.Handshake(host, received, reply);
      if (!reply.empty() && !SendAll(reply)) {
        return false;
      }
      if (status == SEC_E_OK) {
        break;
      }
      const bool more = status == SEC_E_INCOMPLETE_MESSAGE ||
                        (status == SEC_I_CONTINUE_NEEDED && received.empty());
      if (status != SEC_I_CONTINUE_NEEDED && status != SEC_I_INCOMPLETE_CREDENTIALS &&
          status != SEC_E_INCOMPLETE_MESSAGE) {
        // Said with the system's code: a certificate it refused on its own
        // is told apart from a connection cut on the way only by it.
        char code[16];
        (void)std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
        why.assign("the TLS handshake with the update service failed (").append(code).append(")");
        return false;
      }
      if (more && !Receive(received)) {
        return false;
      }
    }
    cipher_ = std::move(received);
    PCCERT_CONTEXT certificate = tls_.Established() ? tls_.PeerCertificate() : nullptr;
    if (certificate == nullptr) {
      return false;
    }
    if (pins.empty()) {
      secure_ = ChainTrusted(certificate, &host);
      if (!secure_) {
        why.assign("the update service's certificate is not trusted for ").append(host);
      }
    } else {
      secure_ = std::find(pins.begin(), pins.end(), KeyDigest(certificate)) != pins.end();
      if (!secure_) {
        why = "the update service's key is not the pinned one: nothing was sent";
      }
    }
    CertFreeCertificateContext(certificate);
    return secure_;
  }

  bool Send(const std::string& data) {
    std::string record;
    return secure_ ? tls_.Encrypt(data, record) && SendAll(record) : SendAll(data);
  }

  // Everything the service sends until it closes, up to `limit` bytes. Many
  // services close without a close_notify: the answer's own length then
  // says whether it came whole.
  bool ReceiveAll(std::string& answer, std::size_t limit) {
    for (;;) {
      if (answer.size() > limit) {
        return false;
      }
      if (!secure_) {
        if (!Receive(answer)) {
          return closed_;
        }
        continue;
      }
      switch (tls_.Decrypt(cipher_, answer)) {
        case SchannelClient::Decrypted::Some:
          break;
        case SchannelClient::Decrypted::More:
          if (!Receive(cipher_)) {
            return closed_;
          }
          break;
        case SchannelClient::Decrypted::Ended:
          return true;
        case SchannelClient::Decrypted::Broken:
          return false;
      }
    }
  }

 private:
  bool Wait(bool forWrite) {
    const DWORD left = MsLeft(deadline_);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_, &set);
    timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    return left > 0 &&
           select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &timeout) == 1;
  }

  bool SendAll(const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
      if (!Wait(true)) {
        return false;
      }
      const int n = send(socket_, data.data() + sent, static_cast<int>(data.size() - sent), 0);
      if (n <= 0) {
        return false;
      }
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Appends what has arrived; false at the connection's end (closed_ says
  // whether it was an orderly one), on a failure or at the deadline.
  bool Receive(std::string& into) {
    if (!Wait(false)) {
      return false;
    }
    char chunk[16 * 1024];
    const int n = recv(socket_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      closed_ = n == 0;
      return false;
    }
    into.append(chunk, static_cast<std::size_t>(n));
    return true;
  }

  SOCKET socket_;
  Clock::time_point deadline_;
  SchannelClient tls_;
  bool secure_ = false;
  std::string cipher_;  // received, not yet decrypted
  bool closed_ = false;
};

// A socket connected to `host`:`port` by `deadline`, or INVALID_SOCKET.
SOCKET Connect(const std::string& host, const std::string& port, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) {
    return INVALID_SOCKET;
  }
  SOCKET connected = INVALID_SOCKET;
  for (addrinfo* each = found; each != nullptr && connected == INVALID_SOCKET;
       each = each->ai_next) {
    SOCKET s = socket(each->ai_family, each->ai_socktype, each->ai_protocol);
    u_long nonBlocking = 1;
    if (s == INVALID_SOCKET || ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
      closesocket(s);
      continue;
    }
    (void)connect(s, each->ai_addr, static_cast<int>(each->ai_addrlen));
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    const DWORD left = MsLeft(deadline);
    timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
    if (select(0, nullptr, &writable, &failed, &timeout) == 1 && FD_ISSET(s, &writable)) {
      connected = s;
    } else {
      closesocket(s);
    }
  }
  freeaddrinfo(found);
  return connected;
}

// The answer's body when its status is 2xx and it came whole.
bool Body(const std::string& answer, std::string& body) {
  const std::size_t end = answer.find("\r\n\r\n");
  if (end == std::string::npos || !answer.starts_with("HTTP/1.") || answer.size() < 12 ||
      answer[9] != '2') {
    return false;
  }
  const std::string head = LowerCase(answer.substr(0, end + 2));
  body = answer.substr(end + 4);
  if (head.find("\r\ntransfer-encoding:") != std::string::npos) {
    return false;  // asked in HTTP/1.0: an answer in chunks is none of ours
  }
  const std::size_t length = head.find("\r\ncontent-length:");
  if (length != std::string::npos) {
    const std::string value = head.substr(length + 17, head.find("\r\n", length + 2) - length - 17);
    char* stop = nullptr;
    const unsigned long long size = std::strtoull(value.c_str(), &stop, 10);
    return size == body.size();  // shorter: cut short
  }
  return true;
}

}  // namespace

Win32UrlFetcher::Win32UrlFetcher(std::vector<std::string> pins, IInternetSettings* internet)
    : pins_(std::move(pins)), internet_(internet) {
  WSADATA data;
  (void)WSAStartup(MAKEWORD(2, 2), &data);
}

bool Win32UrlFetcher::Fetch(const std::string& url, const std::string& file, std::string& why) {
  const auto deadline = Clock::now() + kFetchTime;
  Address address;
  if (!Split(url, address)) {
    return false;
  }
  // The LAN's proxy, as the system's Internet options name it.
  std::optional<std::string> proxy;
  if (internet_ != nullptr) {
    if (const auto lan = internet_->QueryConnection("")) {
      proxy = ProxyFor(*lan, address.host, address.secure);
    }
  }
  std::string authority = address.host;
  authority.append(":").append(address.port);
  const std::size_t colon = proxy ? proxy->rfind(':') : std::string::npos;
  const SOCKET socket =
      proxy ? Connect(proxy->substr(0, colon),
                      colon == std::string::npos ? "80" : proxy->substr(colon + 1), deadline)
            : Connect(address.host, address.port, deadline);
  if (socket == INVALID_SOCKET) {
    return false;
  }
  {
    // The socket is the fetcher's while the fetch runs, so that Cancel can
    // close it (which ends a wait on it at once).
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
      closesocket(socket);
      return false;
    }
    socket_ = socket;
  }
  std::string answer;
  bool read = false;
  {
    Exchange exchange(socket, deadline);
    // Asked in HTTP/1.0, the service answers in one piece and then closes.
    std::string request = "GET ";
    if (proxy && !address.secure) {
      request.append("http://").append(authority);  // a proxy's form
    }
    request.append(address.target).append(" HTTP/1.0\r\nHost: ").append(authority);
    request.append("\r\nUser-Agent: Umbrane\r\nAccept: */*\r\n");
    request.append("Cache-Control: no-cache\r\nPragma: no-cache\r\n\r\n");
    read = (!proxy || !address.secure || exchange.Tunnel(authority)) &&
           (!address.secure || exchange.Secure(address.host, pins_, why)) &&
           exchange.Send(request) && exchange.ReceiveAll(answer, kMaxReplyBytes + 16 * 1024);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    socket_ = INVALID_SOCKET;
    read = read && !cancelled_;  // what came before a cancel may be cut short
  }
  closesocket(socket);
  std::string body;
  std::string error;
  return read && Body(answer, body) && body.size() <= kMaxReplyBytes &&
         Win32FileSystem().WriteFile(file, body, WriteMode::Replace, error);
}

void Win32UrlFetcher::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  if (socket_ != INVALID_SOCKET) {
    // Ends the wait on it at once: the fetch returns false (and closes it).
    (void)shutdown(socket_, SD_BOTH);
  }
}

}  // namespace umbrane::win32
