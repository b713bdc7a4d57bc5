// A stand-in for the tunnel agent, for tests and the demo. It accepts the
// agent's command line and acts out the script "warden.script" beside it,
// one command per line:
//
//   print TEXT    TEXT and CR LF on standard output
//   write TEXT    TEXT alone, no line end (\r, \n and \0 are escapes), to
//                 split a line across writes
//   repeat N TEXT TEXT and CR LF N times over, in one write (a burst)
//   sleep MS      wait MS milliseconds
//   listen        accept connections on 127.0.0.1 at the port of "-H", or
//                 on the socket Umbrane hands over (each is closed at
//                 once); it fails with "171001 ..."
//   exit CODE     end with exit code CODE
//   record FILE   write its own command line to FILE beside it
//   wait          run until terminated (also what happens after the last line)
//   # ...         a comment
//
// A missing or malformed command line prints "171001 ..." and exits with 2.
#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "tunnel/AgentCommand.h"
#include "tunnel/StatusCodes.h"

namespace {

namespace status = umbrane::status;

void Out(const std::string& text) {
  DWORD written = 0;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  (void)WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  (void)FlushFileBuffers(out);
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '\\' && (next == 'r' || next == 'n' || next == '0')) {
      ++i;
      out += next == 'r' ? '\r' : next == 'n' ? '\n' : '\0';
    } else {
      out += text[i];
    }
  }
  return out;
}

// The options of the agent command line, by name.
bool ParseCommandLine(int argc, char** argv, std::map<std::string, std::string>& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "-do" || name == "-umbrane") {
      options[name] = "";
    } else if ((name == "-name" || name == "-key" || name == "-H" || name == "-port" ||
                name == "-say") &&
               i + 1 < argc) {
      options[name] = argv[++i];
    } else {
      return false;
    }
  }
  for (const char* required : {"-name", "-key", "-H", "-port", "-say"}) {
    if (options.count(required) == 0) {
      return false;
    }
  }
  return std::atoi(options["-H"].c_str()) > 0;
}

bool Accept(SOCKET server);

bool Listen(int port) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    return false;
  }
  // As the real agent: on the socket Umbrane holds for it, when handed one.
  if (const char* handed = std::getenv(umbrane::kListenSocketVariable)) {
    return Accept(static_cast<SOCKET>(std::strtoull(handed, nullptr, 10)));
  }
  SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (server == INVALID_SOCKET ||
      bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(server, 16) != 0) {
    return false;
  }
  return Accept(server);
}

bool Accept(SOCKET server) {
  std::thread([server] {
    for (;;) {
      SOCKET client = accept(server, nullptr, nullptr);
      if (client == INVALID_SOCKET) {
        return;
      }
      closesocket(client);
    }
  }).detach();
  return true;
}

// In UTF-16: the folder may hold characters outside the code page.
std::wstring OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring file(path, n);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  if (!ParseCommandLine(argc, argv, options)) {
    Out(std::string(status::kMissionFailed) + " bad command line\r\n");
    return 2;
  }
  std::ifstream script(std::filesystem::path(OwnFolder() + L"warden.script"));
  std::string line;
  while (std::getline(script, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    const std::string command = line.substr(0, line.find(' '));
    const std::string argument =
        line.size() > command.size() ? line.substr(command.size() + 1) : "";
    if (command == "print") {
      Out(argument + "\r\n");
    } else if (command == "write") {
      Out(Unescape(argument));
    } else if (command == "repeat") {
      const auto blank = argument.find(' ');
      const std::string text = argument.substr(blank == std::string::npos ? 0 : blank + 1) + "\r\n";
      std::string burst;
      for (long n = std::strtol(argument.c_str(), nullptr, 10); n > 0; --n) {
        burst += text;
      }
      Out(burst);
    } else if (command == "sleep") {
      Sleep(static_cast<DWORD>(std::atoi(argument.c_str())));
    } else if (command == "listen") {
      if (!Listen(std::atoi(options["-H"].c_str()))) {
        Out(std::string(status::kMissionFailed) + " cannot listen on 127.0.0.1:" + options["-H"] +
            "\r\n");
      }
    } else if (command == "record") {
      std::ofstream(std::filesystem::path(OwnFolder()) / argument) << GetCommandLineA();
    } else if (command == "exit") {
      return std::atoi(argument.c_str());
    } else if (command == "wait") {
      break;
    }
  }
  for (;;) {
    Sleep(INFINITE);
  }
}
