#include "local/RequestStream.h"

#include <cctype>

#include <algorithm>

#include "local/Handshake.h"
#include "local/HttpText.h"
#include "common/Limits.h"
#include "local/ResponseStream.h"
#include "relay/ConnectRequest.h"

namespace warden {

namespace {

// A chunk size line or a trailer line longer than this is no HTTP client's.
constexpr std::size_t kMaxLine = 4096;

}  // namespace

bool ReadBodyFraming(std::string_view head, BodyFraming& framing) {
  framing = {};
  std::size_t pos = head.find("\r\n");
  while (pos != std::string_view::npos && pos + 2 < head.size()) {
    const std::size_t start = pos + 2;
    const std::size_t end = head.find("\r\n", start);
    const std::string_view line =
        head.substr(start, end == std::string_view::npos ? end : end - start);
    pos = end;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) {
      continue;
    }
    const std::string name = Lower(Trim(line.substr(0, colon)));
    const std::string value = Lower(Trim(line.substr(colon + 1)));
    if (name == "transfer-encoding") {
      // Only chunked ends a body of unknown size, and only as the last
      // coding, once: anything else cannot be told apart from the next
      // request.
      const std::string_view codings(value);
      const auto comma = codings.rfind(',');
      const std::string_view last =
          Trim(comma == std::string_view::npos ? codings : codings.substr(comma + 1));
      const std::string_view before =
          comma == std::string_view::npos ? std::string_view() : codings.substr(0, comma);
      if (last != "chunked" || framing.chunked ||
          before.find("chunked") != std::string_view::npos) {
        return false;
      }
      framing.chunked = true;
    } else if (name == "content-length") {
      unsigned long long length = 0;
      // Two different lengths are how requests are smuggled past a proxy.
      if (!ParseNumber(value, 10, length) || (framing.sized && length != framing.length)) {
        return false;
      }
      framing.sized = true;
      framing.length = length;
    }
  }
  // Both: the length is not to be trusted.
  return !(framing.chunked && framing.sized);
}

bool RequestStream::TakeLine(std::string& line, bool& bad) {
  const auto end = pending_.find("\r\n");
  if (end == std::string::npos) {
    bad = pending_.size() > kMaxLine;
    return false;
  }
  // CR LF ends a line, and nothing else is in one: a bare LF or CR, or any
  // control byte but tab, is how a relay is made to read another line.
  for (std::size_t i = 0; i < end; ++i) {
    const auto b = static_cast<unsigned char>(pending_[i]);
    if ((b < 0x20 && b != '\t') || b == 0x7F) {
      bad = true;
      return false;
    }
  }
  if (end > kMaxLine) {
    bad = true;
    return false;
  }
  line = pending_.substr(0, end);
  pending_.erase(0, end + 2);
  return true;
}

// One move through the stream; false when it needs more bytes (or is bad,
// or the next request is for another site).
bool RequestStream::Step(std::string& out, bool& bad, bool& newSite) {
  std::string line;
  switch (state_) {
    case State::Opaque:
      out += pending_;
      pending_.clear();
      return false;
    case State::Head: {
      // A client may send empty lines after a body: skipped at once, not
      // one erase each.
      std::size_t blank = 0;
      while (pending_.compare(blank, 2, "\r\n") == 0) {
        blank += 2;
      }
      pending_.erase(0, blank);
      if (pending_.empty()) {
        return false;
      }
      if (pending_[0] == 4 || pending_[0] == 5) {
        bad = true;  // a SOCKS greeting is no request
        return false;
      }
      Handshake request;
      switch (request.Feed(pending_)) {
        case Handshake::Step::NeedMore:
          return false;
        case Handshake::Step::Ready:
          break;
        default:
          bad = true;
          return false;
      }
      BodyFraming framing;
      if (!ReadBodyFraming(request.Head(), framing)) {
        bad = true;
        return false;
      }
      const bool connect = request.Kind() == Protocol::HttpConnect;
      const std::string site = request.TargetHost().Authority();
      if (site_.empty()) {
        site_ = site;
        connect_ = connect;
      } else if (site != site_ || connect != connect_) {
        // Another site's request never travels in this one's tunnel.
        next_ = site;
        nextConnect_ = connect;
        newSite = true;
        return false;
      }
      pending_.erase(0, request.Consumed());
      if (connect) {
        state_ = State::Opaque;  // the session opens the tunnel itself
        return true;
      }
      out += ForSite(request.Head(), site_);
      answers_.Expect(request.Head().compare(0, 5, "HEAD ") == 0);
      if (framing.chunked) {
        state_ = State::ChunkSize;
      } else {
        left_ = framing.length;
        state_ = State::Length;
      }
      return true;
    }
    case State::Length:
    case State::ChunkData: {
      const std::size_t take =
          static_cast<std::size_t>(std::min<unsigned long long>(left_, pending_.size()));
      out.append(pending_, 0, take);
      pending_.erase(0, take);
      left_ -= take;
      if (left_ > 0) {
        return false;
      }
      state_ = state_ == State::Length ? State::Head : State::ChunkEnd;
      return true;
    }
    case State::ChunkSize: {
      if (!TakeLine(line, bad)) {
        return false;
      }
      // Hex digits first thing; white space only before an extension.
      std::string_view size = std::string_view(line).substr(0, line.find(';'));
      while (!size.empty() && (size.back() == ' ' || size.back() == '\t')) {
        size.remove_suffix(1);
      }
      if (!ParseNumber(size, 16, left_)) {
        bad = true;
        return false;
      }
      out += line + "\r\n";
      state_ = left_ == 0 ? State::Trailer : State::ChunkData;
      return true;
    }
    case State::ChunkEnd:
      if (pending_.size() < 2) {
        return false;
      }
      if (pending_.compare(0, 2, "\r\n") != 0) {
        bad = true;
        return false;
      }
      out += "\r\n";
      pending_.erase(0, 2);
      state_ = State::ChunkSize;
      return true;
    case State::Trailer:
      if (!TakeLine(line, bad)) {
        return false;
      }
      if (!line.empty() && !SoundFieldLine(line)) {
        bad = true;
        return false;
      }
      out += line + "\r\n";
      if (line.empty()) {
        state_ = State::Head;
      }
      return true;
  }
  return false;
}

RequestStream::Result RequestStream::Feed(std::string_view received, std::string& out) {
  pending_.append(received);
  bool bad = false;
  bool newSite = false;
  while (!newSite && Step(out, bad, newSite)) {
  }
  return bad ? Result::Bad : newSite ? Result::NewSite : Result::NeedMore;
}

void RequestStream::MoveOn() {
  site_ = std::move(next_);
  connect_ = nextConnect_;
  next_.clear();
}

std::string ForSite(std::string_view head, const std::string& site) {
  const auto lineEnd = head.find("\r\n");
  const std::string_view line = head.substr(0, lineEnd);
  const auto firstSpace = line.find(' ');
  const auto lastSpace = line.rfind(' ');
  // "METHOD http://authority/path HTTP/1.1": the path, "/" when there is none.
  const std::string_view uri = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
  const std::string_view afterScheme = uri.substr(std::min(uri.find("//") + 2, uri.size()));
  const auto pathStart = afterScheme.find_first_of("/?");
  std::string path = "/";
  if (pathStart != std::string_view::npos) {
    path = std::string(afterScheme[pathStart] == '?' ? "/" : "") +
           std::string(afterScheme.substr(pathStart));
  }
  // The default port is left out of Host, as a browser writes it.
  const std::string host = site.size() > 3 && site.compare(site.size() - 3, 3, ":80") == 0
                               ? site.substr(0, site.size() - 3)
                               : site;
  std::string out = std::string(line.substr(0, firstSpace)) + " " + path +
                    std::string(line.substr(lastSpace)) + "\r\nHost: " + host + "\r\n";
  for (std::size_t pos = lineEnd + 2; pos < head.size();) {
    const auto end = head.find("\r\n", pos);
    const std::string_view field = head.substr(pos, end - pos);
    pos = end + 2;
    if (field.empty()) {
      break;
    }
    const std::string name = Lower(Trim(field.substr(0, field.find(':'))));
    if (name != "host" && name != "proxy-authorization" && name != "proxy-connection") {
      out += std::string(field) + "\r\n";
    }
  }
  return out + "\r\n";
}

bool SafeToRepeat(std::string_view flight) {
  const auto end = flight.find("\r\n\r\n");
  if (end == std::string_view::npos || end + 4 != flight.size()) {
    return false;
  }
  const std::string_view method = flight.substr(0, flight.find(' '));
  BodyFraming framing;
  return (method == "GET" || method == "HEAD" || method == "OPTIONS") &&
         ReadBodyFraming(flight, framing) && !framing.chunked && framing.length == 0;
}

}  // namespace warden
