// umbrane.exe with the real agent under Wine: the relay is Squid behind TLS
// on the loopback, and a request through the system proxy's address reaches
// a local web server (the update service's pages) by way of the relay, with
// nothing of it readable on the way. The agent alone refuses relays that
// cannot prove themselves.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "Folders.h"
#include "HostCommand.h"
#include "ProgramDriver.h"
#include "UpdateService.h"
#include "app/Commands.h"
#include "proxy/SystemProxy.h"
#include "tunnel/AgentOutput.h"
#include "win32/Win32AgentLauncher.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32InternetSettings.h"
#include "win32/Win32ProcessList.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::ScratchFolder;
using testing::SetUpdateService;
using testing::WaitFor;

// A connection to the local proxy on 127.0.0.1:`port` with `request` sent
// (reads wait 10 s at most); INVALID_SOCKET when none was made.
SOCKET OpenLocalProxy(const std::string& request, u_short port = 7070) {
  WSADATA data;
  (void)WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  DWORD limit = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  sockaddr_in proxy = {};
  proxy.sin_family = AF_INET;
  proxy.sin_port = htons(port);
  proxy.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&proxy), sizeof proxy) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  send(s, request.data(), static_cast<int>(request.size()), 0);
  return s;
}

// The answer on `s` up to the proxy's end (or only its head). `ended`: 0
// when the proxy closed cleanly, the socket's error otherwise.
std::string ReadAnswer(SOCKET s, bool headOnly = false, int* ended = nullptr) {
  std::string answer;
  char buffer[4096];
  int n = 0;
  while ((!headOnly || answer.find("\r\n\r\n") == std::string::npos) &&
         (n = recv(s, buffer, sizeof buffer, 0)) > 0) {
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  if (ended != nullptr) {
    *ended = n < 0 ? WSAGetLastError() : 0;
  }
  return answer;
}

// `request` to the local proxy, and its answer up to the proxy's end (or
// only its head).
std::string AskLocalProxy(const std::string& request, bool headOnly = false, int* ended = nullptr) {
  const SOCKET s = OpenLocalProxy(request);
  std::string answer = s == INVALID_SOCKET ? "" : ReadAnswer(s, headOnly, ended);
  closesocket(s);
  return answer;
}

// A request for `path` on the stand-in site (the service's plain port,
// 8809, by the name only the relay knows), sent the way a WinINet client
// with the system proxy "127.0.0.1:7070" sends it: an HTTP proxy request.
std::string FetchThroughLocalProxy(const std::string& path, int* ended = nullptr,
                                   const std::string& site = "www.umbrane.test:8809") {
  return AskLocalProxy(
      "GET http://" + site + path + " HTTP/1.1\r\nHost: " + site + "\r\nConnection: close\r\n\r\n",
      false, ended);
}

// Whether `answer` is a 200, in the relay's HTTP version (a CONNECT) or in
// the site's own (a plain-HTTP request, which the site itself answers).
bool Ok(const std::string& answer) {
  return answer.rfind("HTTP/1.", 0) == 0 && answer.compare(8, 5, " 200 ") == 0;
}

// A page of 6 requests at once, as a browser loads one: 3 plain-HTTP pages
// and 3 CONNECTs (to the HTTPS port of the same service). How many were
// answered.
int LoadPage() {
  std::atomic<int> answered{0};
  std::vector<std::thread> requests;
  for (int i = 0; i < 6; ++i) {
    requests.emplace_back([&answered, i] {
      const std::string answer =
          i % 2 == 0 ? FetchThroughLocalProxy("/page-" + std::to_string(i))
                     : AskLocalProxy("CONNECT www.umbrane.test:8808 HTTP/1.1\r\n\r\n", true);
      answered += Ok(answer);
    });
  }
  for (auto& request : requests) {
    request.join();
  }
  return answered;
}

// The program installed in `name` with the real agent, connected and on;
// the service's pages are the sites, and the update asks for nothing.
struct OnThroughTheRealAgent {
  testing::UpdateServiceReset reset;
  ScratchFolder folder;
  Running umbrane;
  HWND main = nullptr;
  explicit OnThroughTheRealAgent(const char* name) : folder(name) {
    SetUpdateService("reply", "");
    main = StartAndConnectRealAgent(folder.Path(), umbrane);
  }
};

TEST(RealAgent, AWinInetStyleRequestTravelsAgentAndRelayToTheLocalServer) {
  OnThroughTheRealAgent on("umbrane-real-agent");
  const HWND main = on.main;
  ASSERT_NE(main, nullptr) << "not on";
  EXPECT_EQ(MessagesAfterUpdate(),
            (std::vector<std::string>{"Searching Internet", "Connecting to Internet", "Identifying",
                                      "Connected to Internet", "Umbrane ON"}));
  const auto lan = win32::Win32InternetSettings().QueryConnection("");
  ASSERT_TRUE(lan);
  EXPECT_TRUE(IsOurProxy(*lan));

  const ULONGLONG asked = GetTickCount64();
  int ended = -1;
  const std::string page = FetchThroughLocalProxy("/through-the-tunnel", &ended);
  EXPECT_TRUE(Ok(page)) << page;
  EXPECT_LT(GetTickCount64() - asked, 5000u) << "the relay's close reached the client";
  EXPECT_EQ(ended, 0) << "the relay's clean end (its close_notify) is passed on as one";
  const auto requests = testing::UpdateRequests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "/through-the-tunnel"), requests.end());

  // What an onlooker between agent and relay saw: TLS from the first byte.
  const std::string wire =
      win32::Win32FileSystem().ReadFile(HostPath(UMBRANE_RELAY_WIRE)).value_or("");
  ASSERT_FALSE(wire.empty());
  EXPECT_EQ(wire[0], '\x16');
  for (const char* secret :
       {"CONNECT", "publicuser", "umbrane-public",
        "cHVibGljdXNlcjp1bWJyYW5lLXB1YmxpYw==", "through-the-tunnel", "www.umbrane.test"}) {
    EXPECT_EQ(wire.find(secret), std::string::npos) << secret << " in clear on the wire";
  }

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(on.umbrane), 0u);
  EXPECT_TRUE(WaitFor([] {
    const auto names = win32::Win32ProcessList().Names();
    return std::find(names.begin(), names.end(), "warden.exe") == names.end();
  }));
}

// A change of network under warden.exe: every connection between the agent
// and its relay goes silent (nothing closes, nothing answers), is reset, or
// is cut (ended without TLS's close_notify), by the forwarder in front of
// the relay. A tunnel open through a cut connection ends with a reset, not
// a clean end. The next page loads whole, and the tray stays on: only the
// old path was lost, not the relay.
TEST(RealAgent, APageLoadsWholeAfterEveryRelayConnectionGoesSilentOrIsReset) {
  OnThroughTheRealAgent on("umbrane-network-change");
  const HWND main = on.main;
  ASSERT_NE(main, nullptr) << "not on";
  for (const std::string change : {"silence", "reset", "cut"}) {
    ASSERT_EQ(LoadPage(), 6) << "before the change";
    // A tunnel open when its relay connection is cut; its read is waiting
    // (Wine reports a reset that came before the read as a clean end).
    const SOCKET open = OpenLocalProxy("CONNECT www.umbrane.test:8808 HTTP/1.1\r\n\r\n");
    ASSERT_EQ(ReadAnswer(open, true).rfind("HTTP/1.1 200", 0), 0u);
    int ended = 0;
    std::thread reading;
    if (change == "cut") {
      reading = std::thread([open, &ended] { (void)ReadAnswer(open, false, &ended); });
    }
    ASSERT_TRUE(testing::RunOnHost(UMBRANE_RELAY_SCRIPT, UMBRANE_RELAY_STATE, 10000, change));
    if (reading.joinable()) {
      reading.join();
      EXPECT_EQ(ended, WSAECONNRESET) << "a tunnel whose relay connection was cut";
    }
    closesocket(open);
    EXPECT_EQ(LoadPage(), 6) << "after " << change;
  }
  EXPECT_EQ(MessagesAfterUpdate().back(), "Umbrane ON");

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(on.umbrane), 0u);
}

// warden.exe started as Umbrane starts it (local port 7079), and what it
// prints.
class AgentRun {
 public:
  AgentRun(const std::string& program, int port, const char* relay = "127.0.0.1") {
    std::string command = "\"";
    command += HostPath(program);
    command += "\" -name publicuser -key umbrane-public -do -H 7079 -umbrane -port ";
    command += std::to_string(port);
    command += " -say ";
    command += relay;
    agent_ = launcher_.Start("", command);
  }
  ~AgentRun() {
    if (agent_) {
      agent_->Terminate();
    }
  }
  // Every line so far, read until `until` holds for the last one (or `ms`).
  const std::vector<std::string>& LinesUntil(const std::function<bool(const std::string&)>& until,
                                             DWORD ms = 20000) {
    WaitFor(
        [&] {
          LineList read;
          while (agent_ && agent_->Peek().value_or(0) > 0) {
            output_.Feed(agent_->Read(*agent_->Peek()), read);
          }
          lines_.insert(lines_.end(), read.Lines().begin(), read.Lines().end());
          return !lines_.empty() && until(lines_.back());
        },
        ms);
    return lines_;
  }

 private:
  win32::Win32AgentLauncher launcher_;
  std::unique_ptr<IAgentProcess> agent_;
  AgentOutput output_;
  std::vector<std::string> lines_;
};

// The codes an agent prints until its "160033" (or 20 s).
std::vector<std::string> CodesUntilItGivesUp(const std::string& program, int port) {
  AgentRun agent(program, port);
  std::vector<std::string> codes;
  std::string said;
  for (const std::string& line :
       agent.LinesUntil([](const std::string& l) { return l.rfind("160033", 0) == 0; })) {
    codes.push_back(line.substr(0, 6));
    said.append(line).append(" | ");
  }
  std::printf("%s on %d: %s\n", program.substr(program.find_last_of('/') + 1).c_str(), port,
              said.c_str());  // what the agent said, for a failure's reader
  return codes;
}

// A self-signed relay (port 8443), and for the pinned build (as a release
// is built) a relay with the right names from an authority the prefix
// trusts but a key it does not pin (8444): the agent says so and gives up
// before its credentials check ("160238") begins. The pinned build takes
// the self-signed relay: its key is pinned, and no store is asked.
TEST(RealAgent, ARelayThatCannotProveItselfGetsNoCredentials) {
  const std::vector<std::string> refused = {"160036", "160032", "160244", "160033"};
  EXPECT_EQ(CodesUntilItGivesUp(UMBRANE_REAL_AGENT, 8443), refused);
  EXPECT_EQ(CodesUntilItGivesUp(UMBRANE_PINNED_AGENT, 8444), refused);
  // A handshake that fails on its own (no TLS there: the service's plain
  // port) is a relay not reached, never one not verified.
  testing::UpdateServiceReset reset;
  SetUpdateService("reply", "");
  EXPECT_EQ(CodesUntilItGivesUp(UMBRANE_REAL_AGENT, 8809),
            (std::vector<std::string>{"160036", "160032", "160033"}));
  const auto pinned = CodesUntilItGivesUp(UMBRANE_PINNED_AGENT, 8443);
  std::string seen;
  for (const std::string& code : pinned) {
    seen.append(code).append(" ");
  }
  EXPECT_NE(std::find(pinned.begin(), pinned.end(), "160238"), pinned.end())
      << "the check began: the relay was verified (codes: " << seen << ")";
}

// Under Wine the owner of a Wine program's connection is named: this
// test's own connection is served as its user's, with no note that the
// system names nobody (a host program's connection is listed without a
// process, and only that is served unnamed).
TEST(RealAgent, ThisUsersProgramIsNamedAndServed) {
  AgentRun agent(UMBRANE_REAL_AGENT, 80, "127.0.0.2");
  ASSERT_EQ(agent.LinesUntil([](const std::string& l) { return l.rfind("160138", 0) == 0; })
                .back()
                .substr(0, 6),
            "160138");
  const SOCKET s = OpenLocalProxy(std::string("\x05\x01\x00", 3), 7079);
  char reply[2] = {};
  EXPECT_EQ(recv(s, reply, sizeof reply, 0), 2) << "served";
  EXPECT_EQ(std::string(reply, 2), std::string("\x05\x00", 2));
  closesocket(s);
  for (const std::string& line : agent.LinesUntil([](const std::string&) { return false; }, 1000)) {
    EXPECT_EQ(line.find("whose program"), std::string::npos) << line;
    EXPECT_NE(line.substr(0, 6), "160246") << line;
  }
}

// The agent killed while on, then the next one while it connects (a death
// and a failed connection's retry): the program holds the port across both,
// so that another account's program trying to listen on it every 0.2 s for
// 15 s never gets it, and the tunnel comes on again.
TEST(RealAgent, NoOtherAccountTakesThePortWhileAgentsAreReplaced) {
  OnThroughTheRealAgent on("umbrane-port-held");
  const HWND main = on.main;
  ASSERT_NE(main, nullptr) << "not on";
  bool tried = false;
  std::thread stranger([&] {
    tried = testing::RunOnHost(UMBRANE_TAKE_PORT_SCRIPT, UMBRANE_STRANGER_STATE, 30000, "7070 15");
  });
  Sleep(500);
  EXPECT_EQ(KillAgents(), 1);
  EXPECT_TRUE(WaitFor([] { return KillAgents() > 0; }, 15000)) << "no agent started again";
  stranger.join();
  const auto ons = [] {
    const auto messages = MessagesAfterUpdate();
    return std::count(messages.begin(), messages.end(), "Umbrane ON");
  };
  EXPECT_TRUE(
      WaitFor([&] { return ons() >= 2 && MessagesAfterUpdate().back() == "Umbrane ON"; }, 30000))
      << "on again";
  const std::string taken = win32::Win32FileSystem()
                                .ReadFile(HostPath(UMBRANE_STRANGER_STATE "/taken"))
                                .value_or("<none>");
  ASSERT_TRUE(tried) << taken;
  if (taken.rfind("skip", 0) == 0) {
    GTEST_SKIP() << "only root can run a program as another user";
  }
  EXPECT_EQ(taken.substr(0, 2), "0 ") << "times taken, tries: " << taken;
  const std::string answer = FetchThroughLocalProxy("/after-two-agents");
  EXPECT_TRUE(Ok(answer)) << answer;
  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(on.umbrane), 0u);
}

// The user's folder, where the update service's list of relays and the
// relay found good are kept for the agent.
std::string UserFile(const char* name) {
  const std::string log = LogPath();
  return log.substr(0, log.find_last_of('\\') + 1) + name;
}

// The update service hands out two relays; the one found good last time
// now shows a certificate that is not the relay's. The user is told, once,
// and the tunnel comes on through the next one, which is kept for the
// next run.
TEST(RealAgent, TheServicesRelaysAreUsedAndOneNotItselfIsPassedForTheNext) {
  testing::UpdateServiceReset reset;
  SetUpdateService("reply", "[Update]\r\nRelays=127.0.0.1:8443, 127.0.0.2:80\r\n");
  ScratchFolder folder("umbrane-two-relays");
  std::string error;
  win32::Win32FileSystem files;
  ASSERT_TRUE(InstallProgram(folder.Path(), "", UMBRANE_REAL_AGENT));
  (void)CreateDirectoryA(UserFile("").c_str(), nullptr);
  ASSERT_TRUE(
      files.WriteFile(UserFile("relay-in-use.txt"), "127.0.0.1:8443", WriteMode::Replace, error));
  (void)DeleteFileA(LogPath().c_str());
  Running umbrane = Start(folder.Path() + "umbrane.exe");
  HWND main = WaitForMainWindow(umbrane);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForUpdateDone());
  EXPECT_EQ(files.ReadFile(UserFile("relays.txt")), "127.0.0.1:8443\n127.0.0.2:80\n");
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdUmbrane1, 0));
  std::string told;
  EXPECT_TRUE(WaitFor([&] {
    told = BoxTexts(umbrane.id);
    return told.find("could not verify its relay") != std::string::npos;
  })) << told;
  CloseBoxes(umbrane.id);
  EXPECT_TRUE(WaitFor([] {
    const auto messages = MessagesAfterUpdate();
    return !messages.empty() && messages.back() == "Umbrane ON";
  }));
  const auto messages = MessagesAfterUpdate();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "Identify failed"), 1);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "Can not connect to internet"), 0);
  EXPECT_EQ(files.ReadFile(UserFile("relay-in-use.txt")), "127.0.0.2:80");
  ASSERT_TRUE(Ok(FetchThroughLocalProxy("/through-the-second")));

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(umbrane), 0u);
  (void)DeleteFileA(UserFile("relays.txt").c_str());
  (void)DeleteFileA(UserFile("relay-in-use.txt").c_str());
}

}  // namespace
}  // namespace umbrane::e2e
