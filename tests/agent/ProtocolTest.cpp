// The agent's reading of client requests and its talk with the relay.
#include <gtest/gtest.h>

#include "Handshake.h"
#include "ProcNetTcp.h"
#include "Relay.h"
#include "RequestStream.h"

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
  EXPECT_EQ(WithCredentials("GET http://x/ HTTP/1.1\r\nproxy-authorization: Basic old\r\n"
                            "Host: x\r\n\r\n",
                            "user", "token"),
            "GET http://x/ HTTP/1.1\r\nProxy-Authorization: Basic dXNlcjp0b2tlbg==\r\n"
            "Host: x\r\n\r\n");
}

// What reaches the relay of a client's request stream, fed whole and again
// byte by byte (a stream may be cut anywhere).
std::string Forwarded(const std::string& stream, bool bytewise, RequestStream::Result& result) {
  RequestStream requests("user", "token");
  std::string out;
  result = RequestStream::Result::NeedMore;
  for (std::size_t i = 0; i < stream.size() && result != RequestStream::Result::Bad;) {
    const std::size_t n = bytewise ? 1 : stream.size();
    result = requests.Feed(std::string_view(stream).substr(i, n), out);
    i += n;
  }
  return out;
}

// Every request gets the credentials and its body is carried whole; a
// stream that cannot be cut safely stops at the bad request.
TEST(RequestStream, EveryRequestGetsTheCredentialsAndABadOneEndsTheStream) {
  const std::string auth = "Proxy-Authorization: Basic dXNlcjp0b2tlbg==\r\n";
  const std::string get = "GET http://a.example/ HTTP/1.1\r\n\r\n";
  const std::string sent = "GET http://a.example/ HTTP/1.1\r\n" + auth + "\r\n";
  std::string blankLines;  // skipped between requests, in linear time
  for (int i = 0; i < 2000; ++i) {
    blankLines += "\r\n";
  }
  struct Case {
    std::string in;
    std::string out;
    bool bad;
  };
  const std::vector<Case> cases = {
      {get + "POST http://b.example/f HTTP/1.1\r\nContent-Length: 4\r\n\r\nGET " + get,
       sent + "POST http://b.example/f HTTP/1.1\r\n" + auth + "Content-Length: 4\r\n\r\nGET " +
           sent,
       false},
      {"POST http://a.example/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
       "5;x=1\r\nGET h\r\n0\r\nT: 1\r\n\r\n" +
           get,
       "POST http://a.example/ HTTP/1.1\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n" +
           "5;x=1\r\nGET h\r\n0\r\nT: 1\r\n\r\n" + sent,
       false},
      {"CONNECT a.example:8443 HTTP/1.1\r\nProxy-Authorization: Basic old\r\n\r\n" + get,
       "CONNECT a.example:8443 HTTP/1.1\r\n" + auth + "\r\n" + get, false},
      {get + "POST http://b/ HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n", sent,
       true},
      {get + "POST http://b/ HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
       sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nContent-Length: -1\r\n\r\n", sent, true},
      {get + "GET /relative HTTP/1.1\r\n\r\n", sent, true},
      {get + std::string("\x05\x01\x00", 3), sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
       sent + "POST http://b/ HTTP/1.1\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n", true},
      // Streams a relay could read otherwise than the agent: the credentials
      // reach it once, with the first, sound request.
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\nGET h\r\n0\r\n\r\n",
       sent + "POST http://b/ HTTP/1.1\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n", true},
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\nT: 1\nX: 2\r\n\r\n",
       sent + "POST http://b/ HTTP/1.1\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n0\r\n",
       true},
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n\t0\r\n\r\n" + get,
       sent + "POST http://b/ HTTP/1.1\r\n" + auth + "Transfer-Encoding: chunked\r\n\r\n", true},
      {get + "POST http://b/ HTTP/1.1\r\nContent-Length\x01: 4\r\n\r\nGET ", sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nContent-Length : 4\r\n\r\nGET ", sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nX-A: 1\r\n Content-Length: 4\r\n\r\nGET ", sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: xchunked\r\n\r\n", sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: chunked, gzip\r\n\r\n", sent, true},
      {get + "POST http://b/ HTTP/1.1\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: "
             "chunked\r\n\r\n",
       sent, true},
      {get + "TRACE http://b/ HTTP/1.1\r\n\r\n", sent, true},
      {get + "GE: http://b/ HTTP/1.1\r\n\r\n", sent, true},
      {get + "GET http://b/ HTTP/1.1\x0c\r\n\r\n", sent, true},
      {get + blankLines + get, sent + sent, false},
  };
  for (const Case& c : cases) {
    for (const bool bytewise : {false, true}) {
      RequestStream::Result result;
      EXPECT_EQ(Forwarded(c.in, bytewise, result), c.out) << c.in;
      EXPECT_EQ(result == RequestStream::Result::Bad, c.bad) << c.in;
    }
  }
  // A head over the limit is refused however the bytes arrive, a whole 60 KB
  // head in one read too.
  RequestStream::Result result;
  EXPECT_EQ(Forwarded(get + "GET http://b/ HTTP/1.1\r\nX: " + std::string(60000, 'a') + "\r\n\r\n",
                      false, result),
            sent);
  EXPECT_EQ(result, RequestStream::Result::Bad);
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
