// The agent's reading of client requests and its talk with the relay.
#include <gtest/gtest.h>

#include "local/Handshake.h"
#include "local/ProcNetTcp.h"
#include "common/Base64.h"
#include "relay/ConnectRequest.h"
#include "local/RequestStream.h"
#include "local/ResponseStream.h"

namespace warden {
namespace {

using Step = Handshake::Step;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) {
    out += static_cast<char>(v);
  }
  return out;
}

TEST(Handshake, Socks4AndSocks4a) {
  Handshake ip;
  const std::string v4 = Bytes({4, 1, 0x1F, 0x90, 10, 0, 0, 7}) + "me" + Bytes({0});
  EXPECT_EQ(ip.Feed(v4.substr(0, 5)), Step::NeedMore);
  ASSERT_EQ(ip.Feed(v4), Step::Ready);
  EXPECT_EQ(ip.TargetHost().Authority(), "10.0.0.7:8080");
  EXPECT_EQ(ip.Consumed(), v4.size());
  EXPECT_EQ(ip.Success(), Bytes({0, 0x5A, 0, 0, 0, 0, 0, 0}));

  Handshake named;
  const std::string v4a = Bytes({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "example.org" + Bytes({0}) + "GET";
  ASSERT_EQ(named.Feed(v4a), Step::Ready);
  EXPECT_EQ(named.TargetHost().Authority(), "example.org:80") << "the name goes to the relay";
  EXPECT_EQ(v4a.substr(named.Consumed()), "GET") << "early payload is kept";

  Handshake bind;
  EXPECT_EQ(bind.Feed(Bytes({4, 2, 0, 80, 1, 2, 3, 4, 0})), Step::Refuse);
  EXPECT_EQ(bind.Reply(), Bytes({0, 0x5B, 0, 0, 0, 0, 0, 0}));
}

TEST(Handshake, Socks5GreetingThenEachAddressType) {
  Handshake h;
  std::string in = Bytes({5, 2, 2, 0});
  ASSERT_EQ(h.Feed(in), Step::Reply);
  EXPECT_EQ(h.Reply(), Bytes({5, 0}));
  in += Bytes({5, 1, 0, 3, 9}) + "localhost" + Bytes({0x1F});
  EXPECT_EQ(h.Feed(in), Step::NeedMore);
  in += Bytes({0x40});
  ASSERT_EQ(h.Feed(in), Step::Ready);
  EXPECT_EQ(h.TargetHost().Authority(), "localhost:8000");

  Handshake v4;
  ASSERT_EQ(v4.Feed(Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, 0, 80})), Step::Ready)
      << "greeting and request in one read";
  EXPECT_EQ(v4.TargetHost().Authority(), "127.0.0.1:80");

  Handshake v6;
  std::string request = Bytes({5, 1, 0, 5, 1, 0, 4});
  request += std::string(15, '\0') + Bytes({1, 1, 0xBB});
  ASSERT_EQ(v6.Feed(request), Step::Ready);
  EXPECT_EQ(v6.TargetHost().Authority(), "[0:0:0:0:0:0:0:1]:443");
}

TEST(Handshake, Socks5RefusesWhatItCannotServe) {
  Handshake auth;
  EXPECT_EQ(auth.Feed(Bytes({5, 1, 2})), Step::Refuse) << "user/password only";
  EXPECT_EQ(auth.Reply(), Bytes({5, 0xFF}));
  Handshake udp;
  EXPECT_EQ(udp.Feed(Bytes({5, 1, 0, 5, 3, 0, 1, 1, 2, 3, 4, 0, 53})), Step::Refuse);
  Handshake type;
  EXPECT_EQ(type.Feed(Bytes({5, 1, 0, 5, 1, 0, 9, 0, 0})), Step::Refuse);
}

TEST(Handshake, HttpConnectAndAbsoluteRequests) {
  Handshake connect;
  EXPECT_EQ(connect.Feed("CONNECT example.org:443 HTTP/1.1\r\nHost: x"), Step::NeedMore);
  ASSERT_EQ(connect.Feed("CONNECT example.org:443 HTTP/1.1\r\nHost: x\r\n\r\nhello"), Step::Ready);
  EXPECT_EQ(connect.Kind(), Protocol::HttpConnect);
  EXPECT_EQ(connect.TargetHost().Authority(), "example.org:443");
  EXPECT_EQ(connect.Success(), "HTTP/1.1 200 Connection established\r\n\r\n");

  Handshake get;
  ASSERT_EQ(get.Feed("GET http://example.org/a?b HTTP/1.1\r\nHost: example.org\r\n\r\n"),
            Step::Ready);
  EXPECT_EQ(get.Kind(), Protocol::HttpForward);
  EXPECT_EQ(get.TargetHost().Authority(), "example.org:80");
  EXPECT_EQ(get.Head(), "GET http://example.org/a?b HTTP/1.1\r\nHost: example.org\r\n\r\n");

  for (const char* bad : {"GET /relative HTTP/1.1\r\n\r\n", "CONNECT nohost HTTP/1.1\r\n\r\n",
                          "CONNECT host:99999 HTTP/1.1\r\n\r\n", "garbage\r\n\r\n"}) {
    Handshake h;
    EXPECT_EQ(h.Feed(bad), Step::Refuse) << bad;
    EXPECT_EQ(h.Reply().rfind("HTTP/1.1 400", 0), 0u);
  }
  Handshake huge;
  EXPECT_EQ(huge.Feed("GET http://x/ HTTP/1.1\r\n" + std::string(20000, 'a')), Step::Refuse);
}

TEST(Relay, RequestsAndAnswers) {
  EXPECT_EQ(Base64("user:token"), "dXNlcjp0b2tlbg==");
  EXPECT_EQ(Base64("ab"), "YWI=");
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(ConnectRequest("example.org:443", "user", "token"),
            "CONNECT example.org:443 HTTP/1.1\r\nHost: example.org:443\r\n"
            "Proxy-Authorization: Basic dXNlcjp0b2tlbg==\r\n\r\n");
  EXPECT_EQ(StatusCode("HTTP/1.0 200 Connection established\r\n"), 200);
  EXPECT_EQ(StatusCode("HTTP/1.1 407 Proxy Authentication Required"), 407);
  EXPECT_FALSE(StatusCode("SSH-2.0-OpenSSH"));
  EXPECT_TRUE(CredentialsRefused(401));
  EXPECT_TRUE(CredentialsRefused(407));
  EXPECT_FALSE(CredentialsRefused(403));
}

// What goes into a site's tunnel of a client's request stream, fed whole
// and again byte by byte (a stream may be cut anywhere): all of it when
// `moveOn`, each site's requests after the last one's.
std::string Forwarded(const std::string& stream, bool bytewise, RequestStream::Result& result,
                      bool moveOn = false) {
  ResponseStream answers;
  RequestStream requests(answers);
  std::string out;
  result = RequestStream::Result::NeedMore;
  for (std::size_t i = 0; i < stream.size() && result == RequestStream::Result::NeedMore;) {
    const std::size_t n = bytewise ? 1 : stream.size();
    result = requests.Feed(std::string_view(stream).substr(i, n), out);
    i += n;
    while (moveOn && result == RequestStream::Result::NewSite) {
      out += "[" + requests.Site() + "->";
      requests.MoveOn();
      out += requests.Site() + "]";
      result = requests.Feed({}, out);
    }
  }
  return out;
}

// Each request goes to its site as the site expects it (its path, its own
// Host, nothing meant for a proxy) with its body whole; a request for
// another site waits for the move; a stream that cannot be cut safely
// stops at the bad request.
TEST(RequestStream, EachSiteGetsOnlyItsOwnRequestsAndABadOneEndsTheStream) {
  const std::string get = "GET http://a.example/ HTTP/1.1\r\n\r\n";
  const std::string sent = "GET / HTTP/1.1\r\nHost: a.example\r\n\r\n";
  const std::string post = "POST http://a.example/f HTTP/1.1\r\n";
  const std::string posted = "POST /f HTTP/1.1\r\nHost: a.example\r\n";
  std::string blankLines;  // skipped between requests, in linear time
  for (int i = 0; i < 2000; ++i) {
    blankLines += "\r\n";
  }
  using R = RequestStream::Result;
  struct Case {
    std::string in;
    std::string out;
    R result;
  };
  const std::vector<Case> cases = {
      {get + post + "Content-Length: 4\r\n\r\nGET " + get,
       sent + posted + "Content-Length: 4\r\n\r\nGET " + sent, R::NeedMore},
      {post + "Transfer-Encoding: chunked\r\n\r\n5;x=1\r\nGET h\r\n0\r\nT: 1\r\n\r\n" + get,
       posted + "Transfer-Encoding: chunked\r\n\r\n5;x=1\r\nGET h\r\n0\r\nT: 1\r\n\r\n" + sent,
       R::NeedMore},
      // Another site, another port, a CONNECT: each waits for its own tunnel.
      {get + "GET http://b.example/x HTTP/1.1\r\n\r\n" + get, sent, R::NewSite},
      {get + "GET http://a.example:8080/ HTTP/1.1\r\n\r\n", sent, R::NewSite},
      {get + "CONNECT a.example:80 HTTP/1.1\r\n\r\n", sent, R::NewSite},
      // What a proxy reads is not passed on; the site's name is the URI's.
      {"GET http://a.example:8080/p?q HTTP/1.1\r\nProxy-Authorization: Basic dXNlcjp0b2tlbg==\r\n"
       "host: evil.example\r\nProxy-Connection: keep-alive\r\nCookie: a=1\r\n\r\n",
       "GET /p?q HTTP/1.1\r\nHost: a.example:8080\r\nCookie: a=1\r\n\r\n", R::NeedMore},
      {"GET http://[::1]:81?q HTTP/1.1\r\n\r\n", "GET /?q HTTP/1.1\r\nHost: [::1]:81\r\n\r\n",
       R::NeedMore},
      {"CONNECT a.example:8443 HTTP/1.1\r\nProxy-Authorization: Basic old\r\n\r\n" + get, get,
       R::NeedMore},
      {get + post + "Content-Length: 3\r\nContent-Length: 4\r\n\r\n", sent, R::Bad},
      {get + post + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", sent, R::Bad},
      {get + post + "Transfer-Encoding: gzip\r\n\r\n", sent, R::Bad},
      {get + post + "Content-Length: -1\r\n\r\n", sent, R::Bad},
      {get + "GET /relative HTTP/1.1\r\n\r\n", sent, R::Bad},
      {get + std::string("\x05\x01\x00", 3), sent, R::Bad},
      {get + post + "Transfer-Encoding: chunked\r\n\r\nzz\r\n",
       sent + posted + "Transfer-Encoding: chunked\r\n\r\n", R::Bad},
      // Streams a site could read otherwise than the agent stop where the
      // agent's reading ends.
      {get + post + "Transfer-Encoding: chunked\r\n\r\n5\nGET h\r\n0\r\n\r\n",
       sent + posted + "Transfer-Encoding: chunked\r\n\r\n", R::Bad},
      {get + post + "Transfer-Encoding: chunked\r\n\r\n0\r\nT: 1\nX: 2\r\n\r\n",
       sent + posted + "Transfer-Encoding: chunked\r\n\r\n0\r\n", R::Bad},
      {get + post + "Transfer-Encoding: chunked\r\n\r\n\t0\r\n\r\n" + get,
       sent + posted + "Transfer-Encoding: chunked\r\n\r\n", R::Bad},
      {get + post + "Content-Length\x01: 4\r\n\r\nGET ", sent, R::Bad},
      {get + post + "Content-Length : 4\r\n\r\nGET ", sent, R::Bad},
      {get + post + "X-A: 1\r\n Content-Length: 4\r\n\r\nGET ", sent, R::Bad},
      {get + post + "Transfer-Encoding: xchunked\r\n\r\n", sent, R::Bad},
      {get + post + "Transfer-Encoding: chunked, gzip\r\n\r\n", sent, R::Bad},
      {get + post + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n", sent,
       R::Bad},
      {get + "TRACE http://a.example/ HTTP/1.1\r\n\r\n", sent, R::Bad},
      {get + "GE: http://a.example/ HTTP/1.1\r\n\r\n", sent, R::Bad},
      {get + "GET http://a.example/ HTTP/1.1\x0c\r\n\r\n", sent, R::Bad},
      {get + blankLines + get, sent + sent, R::NeedMore},
  };
  for (const Case& c : cases) {
    for (const bool bytewise : {false, true}) {
      RequestStream::Result result;
      EXPECT_EQ(Forwarded(c.in, bytewise, result), c.out) << c.in;
      EXPECT_EQ(result, c.result) << c.in;
    }
  }
  // After the move, the next site's requests follow, and a client's
  // CONNECT leaves the rest to its tunnel.
  RequestStream::Result result;
  EXPECT_EQ(Forwarded(get + "GET http://b.example/ HTTP/1.1\r\n\r\n" + get +
                          "CONNECT c.example:443 HTTP/1.1\r\n\r\nhello",
                      true, result, true),
            sent + "[a.example:80->b.example:80]GET / HTTP/1.1\r\nHost: b.example\r\n\r\n" +
                "[b.example:80->a.example:80]" + sent + "[a.example:80->c.example:443]hello");
  // A head over the limit is refused however the bytes arrive, a whole 60 KB
  // head in one read too.
  EXPECT_EQ(Forwarded(get + "GET http://a.example/ HTTP/1.1\r\nX: " + std::string(60000, 'a') +
                          "\r\n\r\n",
                      false, result),
            sent);
  EXPECT_EQ(result, RequestStream::Result::Bad);
}

// A site's answers settle only once every request has its whole answer;
// one whose end only the site's closing tells never does.
TEST(ResponseStream, SettlesOnlyWhenEveryAnswerIsWhole) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;e=1\r\nhello\r\n0\r\nT: 1\r\n\r\n";
  struct Case {
    std::vector<bool> heads;  // the requests sent: a HEAD each true
    std::string answers;
    bool settled;
  };
  const std::vector<Case> cases = {
      {{false}, ok, true},
      {{false}, ok.substr(0, ok.size() - 1), false},
      {{false, false}, ok + chunked, true},
      {{false, false}, ok + chunked.substr(0, chunked.size() - 2), false},
      {{false}, "HTTP/1.1 100 Continue\r\n\r\n" + ok, true},
      {{true}, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", true},
      {{false, false},
       "HTTP/1.1 204 No\r\n\r\nHTTP/1.1 304 Same\r\nContent-Length: 3\r\n\r\n",
       true},
      {{false}, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true},
      {{false}, "HTTP/1.1 200 OK\r\n\r\nto the end", false},
      {{false}, "HTTP/1.1 101 Switching\r\n\r\n", false},
      {{false}, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false},
      {{false}, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nab\r\n0\r\n\r\n", false},
      {{false}, ok + "more", false},  // more than was asked for
      {{}, ok, false},
      {{false}, "HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'a') + "\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    for (const bool bytewise : {false, true}) {
      ResponseStream answers;
      for (const bool head : c.heads) {
        answers.Expect(head);
      }
      for (std::size_t i = 0; i < c.answers.size(); i += bytewise ? 1 : c.answers.size()) {
        answers.Feed(std::string_view(c.answers).substr(i, bytewise ? 1 : c.answers.size()));
      }
      EXPECT_EQ(answers.Settled(), c.settled) << c.answers << (bytewise ? " bytewise" : "");
    }
  }
}

// Only words that cannot act twice may race on two relay connections.
TEST(RequestStream, OnlyOneBodilessGetHeadOrOptionsMayBeSentTwice) {
  const std::string head = " http://a.example/ HTTP/1.1\r\nHost: a.example\r\n";
  const struct {
    std::string words;
    bool twice;
  } cases[] = {
      {"GET" + head + "\r\n", true},
      {"HEAD" + head + "\r\n", true},
      {"OPTIONS" + head + "\r\n", true},
      {"GET" + head + "Content-Length: 0\r\n\r\n", true},
      {"POST" + head + "\r\n", false},
      {"PUT" + head + "\r\n", false},
      {"DELETE" + head + "\r\n", false},
      {"GET" + head + "Content-Length: 3\r\n\r\nabc", false},
      {"GET" + head + "Transfer-Encoding: chunked\r\n\r\n", false},
      {"GET" + head + "\r\nGET" + head + "\r\n", false},  // a second request behind it
      {"GET" + head, false},                              // not a whole head
      {"get" + head + "\r\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SafeToRepeat(c.words), c.twice) << c.words;
  }
}

// Where the kernel's table says whose a socket is: the line whose first two
// addresses are the socket's own end and its peer, never a line that only
// mentions them later; tcp6's mapped form alike.
TEST(ProcNetTcp, TheUidIsTheOneOfTheLineWithThatOwnEndAndPeer) {
  const std::string table =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode\n"
      "   0: 0100007F:1B9E 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 "
      "1 1 0000000000000000 100 0 0 10 0\n"
      "   1: 0100007F:1B9E 0100007F:D431 01 00000000:00000000 00:00000000 00000000     0        0 "
      "2 1 0000000000000000 20 4 30 10 -1\n"
      "   2: 0100007F:D431 0100007F:1B9E 01 00000000:00000000 00:00000000 00000000  1001        0 "
      "3 1 0000000000000000 20 4 30 10 -1\n";
  const std::string table6 =
      "  sl  local_address                         remote_address                        st "
      "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
      "   0: 0000000000000000FFFF00000100007F:E001 0000000000000000FFFF00000100007F:1B9E 01 "
      "00000000:00000000 00:00000000 00000000    33        0 4 1 0000000000000000 20 4 30 10 -1\n";
  const struct {
    const std::string& table;
    const char* from;
    const char* to;
    std::optional<unsigned long> uid;
  } rows[] = {
      {table, "0100007F:D431", "0100007F:1B9E", 1001},  // the client's end: its user
      {table, "0100007F:1B9E", "0100007F:D431", 0},     // the proxy's own end
      {table, "0100007F:D432", "0100007F:1B9E", std::nullopt},
      {table, "00000000:0000", "0A", std::nullopt},  // not two addresses of a line
      {table6, "0000000000000000FFFF00000100007F:E001", "0000000000000000FFFF00000100007F:1B9E",
       33},
      {"", "0100007F:D431", "0100007F:1B9E", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SocketUid(row.table, row.from, row.to), row.uid) << row.from << " " << row.to;
  }
}

}  // namespace
}  // namespace warden
