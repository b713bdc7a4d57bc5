#include "local/Handshake.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/Limits.h"

namespace warden {

namespace {

std::uint8_t Byte(std::string_view in, std::size_t i) {
  return static_cast<std::uint8_t>(in[i]);
}

std::uint16_t Port(std::string_view in, std::size_t i) {
  return static_cast<std::uint16_t>(Byte(in, i) << 8 | Byte(in, i + 1));
}

std::string Ipv4(std::string_view in, std::size_t i) {
  return std::to_string(Byte(in, i)) + "." + std::to_string(Byte(in, i + 1)) + "." +
         std::to_string(Byte(in, i + 2)) + "." + std::to_string(Byte(in, i + 3));
}

std::string Ipv6(std::string_view in, std::size_t i) {
  char text[48];
  std::snprintf(text, sizeof text, "%x:%x:%x:%x:%x:%x:%x:%x", Port(in, i), Port(in, i + 2),
                Port(in, i + 4), Port(in, i + 6), Port(in, i + 8), Port(in, i + 10),
                Port(in, i + 12), Port(in, i + 14));
  return text;
}

// "host:port" or "[v6]:port"; false when malformed.
bool SplitAuthority(std::string_view text, Target& target) {
  std::string_view host;
  std::string_view port;
  if (!text.empty() && text[0] == '[') {
    const auto close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      return false;
    }
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
      return false;
    }
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  unsigned value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9' || (value = value * 10 + static_cast<unsigned>(c - '0')) > 65535) {
      return false;
    }
  }
  if (!ValidHost(host) || port.empty() || value == 0) {
    return false;
  }
  target.host = std::string(host);
  target.port = static_cast<std::uint16_t>(value);
  return true;
}

// A line end is CR LF and nothing else; a lone CR or LF, or a NUL, would
// let a client slip a line of its own into what the relay reads.
bool CleanHead(std::string_view head) {
  for (std::size_t i = 0; i < head.size(); ++i) {
    const char c = head[i];
    if (c == '\0' || (c == '\r' && (i + 1 == head.size() || head[i + 1] != '\n')) ||
        (c == '\n' && (i == 0 || head[i - 1] != '\r'))) {
      return false;
    }
  }
  return true;
}

// No control byte, no space: nothing that could end or split a line.
bool Printable(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool Token(std::string_view text) {
  // No control byte, no white space, no separator.
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b > 0x20 && b < 0x7F &&
           std::string_view("\"(),/:;<=>?@[\\]{}").find(c) == std::string_view::npos;
  });
}

bool SoundFieldLine(std::string_view line) {
  const auto colon = line.find(':');
  // No name, or a folded line (it starts with white space).
  if (colon == std::string_view::npos || !Token(line.substr(0, colon))) {
    return false;
  }
  for (const char c : line.substr(colon + 1)) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\t') || b == 0x7F) {
      return false;
    }
  }
  return true;
}

bool ValidHost(std::string_view host) {
  return !host.empty() && host.size() <= kMaxName && Printable(host);
}

std::string Target::Authority() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

Handshake::Step Handshake::Refuse(std::string reply) {
  reply_ = std::move(reply);
  return Step::Refuse;
}

Handshake::Step Handshake::Feed(std::string_view in) {
  if (in.empty()) {
    return Step::NeedMore;
  }
  if (protocol_ == Protocol::Unknown) {
    protocol_ = Byte(in, 0) == 4   ? Protocol::Socks4
                : Byte(in, 0) == 5 ? Protocol::Socks5
                                   : Protocol::HttpConnect;  // settled by the request line
  }
  switch (protocol_) {
    case Protocol::Socks4:
      return Socks4(in);
    case Protocol::Socks5:
      return Socks5(in);
    default:
      return Http(in);
  }
}

Handshake::Step Handshake::Socks4(std::string_view in) {
  // VN CD PORT(2) IP(4) USERID NUL [DOMAIN NUL when IP is 0.0.0.x, x != 0]
  if (in.size() < 9) {
    return Step::NeedMore;
  }
  if (Byte(in, 1) != 1) {
    return Refuse(std::string("\x00\x5B\x00\x00\x00\x00\x00\x00", 8));  // only CONNECT
  }
  const auto userEnd = in.find('\0', 8);
  if (userEnd == std::string_view::npos) {
    return in.size() > 512 ? Refuse({}) : Step::NeedMore;
  }
  target_.port = Port(in, 2);
  const bool socks4a = Byte(in, 4) == 0 && Byte(in, 5) == 0 && Byte(in, 6) == 0 && Byte(in, 7) != 0;
  if (!socks4a) {
    target_.host = Ipv4(in, 4);
    consumed_ = userEnd + 1;
    return Step::Ready;
  }
  const auto nameEnd = in.find('\0', userEnd + 1);
  if (nameEnd == std::string_view::npos) {
    return in.size() > 1024 ? Refuse({}) : Step::NeedMore;
  }
  target_.host = std::string(in.substr(userEnd + 1, nameEnd - userEnd - 1));
  consumed_ = nameEnd + 1;
  return ValidHost(target_.host) ? Step::Ready : Refuse(Failure());
}

Handshake::Step Handshake::Socks5(std::string_view in) {
  if (!greeted_) {
    if (in.size() < 2 || in.size() < 2u + Byte(in, 1)) {
      return Step::NeedMore;
    }
    greetingSize_ = 2u + Byte(in, 1);
    bool noAuth = false;
    for (std::size_t i = 2; i < greetingSize_; ++i) {
      noAuth = noAuth || Byte(in, i) == 0;
    }
    if (!noAuth) {
      return Refuse(std::string("\x05\xFF", 2));
    }
    greeted_ = true;
    reply_ = std::string("\x05\x00", 2);
    if (in.size() == greetingSize_) {
      return Step::Reply;
    }
  }
  const std::string_view request = in.substr(greetingSize_);
  if (request.size() < 5) {
    return Step::NeedMore;
  }
  if (Byte(request, 0) != 5 || Byte(request, 1) != 1) {
    return Refuse(std::string("\x05\x07\x00\x01\x00\x00\x00\x00\x00\x00", 10));
  }
  std::size_t end = 0;
  switch (Byte(request, 3)) {
    case 1:
      end = 4 + 4 + 2;
      if (request.size() < end) {
        return Step::NeedMore;
      }
      target_.host = Ipv4(request, 4);
      break;
    case 3:
      end = 5u + Byte(request, 4) + 2;
      if (request.size() < end) {
        return Step::NeedMore;
      }
      // The name goes to the relay unresolved: nothing leaks to local DNS.
      target_.host = std::string(request.substr(5, Byte(request, 4)));
      break;
    case 4:
      end = 4 + 16 + 2;
      if (request.size() < end) {
        return Step::NeedMore;
      }
      target_.host = Ipv6(request, 4);
      break;
    default:
      return Refuse(std::string("\x05\x08\x00\x01\x00\x00\x00\x00\x00\x00", 10));
  }
  target_.port = Port(request, end - 2);
  consumed_ = greetingSize_ + end;
  return !ValidHost(target_.host) || target_.port == 0 ? Refuse(Failure()) : Step::Ready;
}

Handshake::Step Handshake::Http(std::string_view in) {
  const auto headEnd = in.find("\r\n\r\n");
  // The limit holds however the bytes arrive: a whole head in one read too.
  if (headEnd == std::string_view::npos ? in.size() > kMaxHead : headEnd + 4 > kMaxHead) {
    return Refuse("HTTP/1.1 431 Request Header Fields Too Large\r\n\r\n");
  }
  if (headEnd == std::string_view::npos) {
    return Step::NeedMore;
  }
  const std::string_view head = in.substr(0, headEnd + 4);
  const auto lineEnd = head.find("\r\n");
  const std::string_view line = head.substr(0, lineEnd);
  const auto firstSpace = line.find(' ');
  const auto lastSpace = line.rfind(' ');
  const std::string bad = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
  if (firstSpace == std::string_view::npos || lastSpace <= firstSpace) {
    return Refuse(bad);
  }
  const std::string_view method = line.substr(0, firstSpace);
  const std::string_view uri = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  const std::string_view version = line.substr(lastSpace + 1);
  const bool versionSound = version.size() == 8 && version.substr(0, 5) == "HTTP/" &&
                            std::isdigit(static_cast<unsigned char>(version[5])) &&
                            version[6] == '.' &&
                            std::isdigit(static_cast<unsigned char>(version[7]));
  if (!CleanHead(head) || !Printable(uri) || !versionSound || !Token(method) || method == "TRACE") {
    return Refuse(bad);  // TRACE would echo the credentials back
  }
  // Every field line sound: a name, a colon, no folding.
  for (std::size_t at = lineEnd + 2; at < headEnd + 2;) {
    const std::size_t end = head.find("\r\n", at);
    if (!SoundFieldLine(head.substr(at, end - at))) {
      return Refuse(bad);
    }
    at = end + 2;
  }
  consumed_ = headEnd + 4;
  head_ = std::string(head);
  if (method == "CONNECT") {
    protocol_ = Protocol::HttpConnect;
    return SplitAuthority(uri, target_) ? Step::Ready : Refuse(bad);
  }
  constexpr std::string_view kScheme = "http://";
  if (uri.substr(0, kScheme.size()) != kScheme) {
    return Refuse(bad);
  }
  const std::string_view rest = uri.substr(kScheme.size());
  const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (!SplitAuthority(authority, target_)) {
    if (!ValidHost(authority) || authority.find(':') != std::string_view::npos) {
      return Refuse(bad);
    }
    target_.host = std::string(authority);
    target_.port = 80;
  }
  protocol_ = Protocol::HttpForward;
  return Step::Ready;
}

std::string Handshake::Success() const {
  switch (protocol_) {
    case Protocol::Socks4:
      return std::string("\x00\x5A\x00\x00\x00\x00\x00\x00", 8);
    case Protocol::Socks5:
      return std::string("\x05\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10);
    case Protocol::HttpConnect:
      return "HTTP/1.1 200 Connection established\r\n\r\n";
    default:
      return {};  // a forwarded request gets the relay's own answer
  }
}

std::string Handshake::Failure() const {
  switch (protocol_) {
    case Protocol::Socks4:
      return std::string("\x00\x5B\x00\x00\x00\x00\x00\x00", 8);
    case Protocol::Socks5:
      return std::string("\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00", 10);
    default:
      return "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n";
  }
}

}  // namespace warden
