#include "win32/Win32InternetSettings.h"

#include <windows.h>
#include <wininet.h>

#include <vector>

#ifndef _WIN64
static_assert(sizeof(INTERNET_PER_CONN_OPTION_LISTA) == 20,
              "the per-connection option list of 32-bit Windows");
#endif

namespace umbrane::win32 {

namespace {

// The first, smallest layout of the RAS connection record, which every
// version of the RAS library accepts: 412 bytes on 32-bit Windows. The
// system headers declare the newest layout instead.
struct LegacyRasConn {
  DWORD dwSize;
  HANDLE hrasconn;
  CHAR szEntryName[257];
  CHAR szDeviceType[17];
  CHAR szDeviceName[129];
};
#ifndef _WIN64
static_assert(sizeof(LegacyRasConn) == 412, "the 32-bit legacy RAS connection record");
#endif

constexpr DWORD kErrorBufferTooSmall = 603;  // ERROR_BUFFER_TOO_SMALL of RAS

extern "C" DWORD WINAPI RasEnumConnectionsA(void* connections, DWORD* bytes, DWORD* count);

}  // namespace

bool Win32InternetSettings::SetConnection(const std::string& connection,
                                          const ConnectionProxy& settings) {
  INTERNET_PER_CONN_OPTIONA options[4] = {};
  std::string server = settings.proxyServer;
  std::string bypass = settings.bypass.value_or("");
  std::string autoConfig = settings.autoConfigUrl.value_or("");
  std::string name = connection;
  DWORD count = 0;
  options[count].dwOption = INTERNET_PER_CONN_FLAGS;
  options[count++].Value.dwValue = settings.flags;
  options[count].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[count++].Value.pszValue = server.data();
  if (settings.bypass) {
    options[count].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
    options[count++].Value.pszValue = bypass.data();
  }
  if (settings.autoConfigUrl) {
    options[count].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
    options[count++].Value.pszValue = autoConfig.data();
  }
  INTERNET_PER_CONN_OPTION_LISTA list = {};
  list.dwSize = sizeof list;
  list.pszConnection = name.data();  // "" (not null) selects the LAN
  list.dwOptionCount = count;
  list.dwOptionError = 0;
  list.pOptions = options;
  return InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list) !=
         FALSE;
}

std::optional<ConnectionProxy> Win32InternetSettings::QueryConnection(
    const std::string& connection) {
  INTERNET_PER_CONN_OPTIONA options[4] = {};
  options[0].dwOption = INTERNET_PER_CONN_FLAGS;
  options[1].dwOption = INTERNET_PER_CONN_PROXY_SERVER;
  options[2].dwOption = INTERNET_PER_CONN_PROXY_BYPASS;
  options[3].dwOption = INTERNET_PER_CONN_AUTOCONFIG_URL;
  std::string name = connection;
  INTERNET_PER_CONN_OPTION_LISTA list = {};
  list.dwSize = sizeof list;
  list.pszConnection = name.data();
  list.dwOptionCount = 4;
  list.pOptions = options;
  DWORD size = sizeof list;
  if (!InternetQueryOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, &size)) {
    return std::nullopt;
  }
  // WinINet allocates each text; an option it does not hold comes back null.
  auto take = [](LPSTR text) {
    std::string value = text != nullptr ? text : "";
    if (text != nullptr) {
      (void)GlobalFree(text);
    }
    return value;
  };
  ConnectionProxy current;
  current.flags = options[0].Value.dwValue;
  current.proxyServer = take(options[1].Value.pszValue);
  current.bypass = take(options[2].Value.pszValue);
  current.autoConfigUrl = take(options[3].Value.pszValue);
  return current;
}

void Win32InternetSettings::Refresh() {
  // Wine answers FALSE here; running clients reload all the same.
  (void)InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
}

void Win32InternetSettings::SettingsChanged() {
  (void)InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
}

DialUpEnumeration Win32InternetSettings::EnumerateDialUp(std::size_t capacity) {
  std::vector<LegacyRasConn> records(std::max<std::size_t>(capacity, 1));
  records[0].dwSize = sizeof(LegacyRasConn);
  DWORD bytes = static_cast<DWORD>(records.size() * sizeof(LegacyRasConn));
  DWORD count = 0;
  const DWORD status = RasEnumConnectionsA(records.data(), &bytes, &count);
  DialUpEnumeration result;
  if (status == ERROR_SUCCESS) {
    result.ok = true;
    for (DWORD i = 0; i < count && i < records.size(); ++i) {
      records[i].szEntryName[sizeof records[i].szEntryName - 1] = '\0';
      result.names.emplace_back(records[i].szEntryName);
    }
  } else if (status == kErrorBufferTooSmall) {
    result.bufferTooSmall = true;
    result.needed = (bytes + sizeof(LegacyRasConn) - 1) / sizeof(LegacyRasConn);
  }
  return result;
}

}  // namespace umbrane::win32
