// A stand-in for a running Firefox, for the tests: copied to "firefox.exe",
// it shows one window of Firefox's class and title and appends every key it
// receives to the file named on its command line ("down 17", "up 72", ...).
// It ends when its window is closed.
#include <windows.h>

#include <cstdio>

namespace {

const char* g_record = nullptr;

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message == WM_KEYDOWN || message == WM_KEYUP) && g_record != nullptr) {
    if (FILE* file = std::fopen(g_record, "ab")) {
      std::fprintf(file, "%s %u\n", message == WM_KEYUP ? "up" : "down",
                   static_cast<unsigned>(wParam));
      std::fclose(file);
    }
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  g_record = commandLine;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = &Proc;
  wc.hInstance = instance;
  wc.lpszClassName = "MozillaWindowClass";
  (void)RegisterClassA(&wc);
  HWND window = CreateWindowA(wc.lpszClassName, "Start Page - Mozilla Firefox", WS_OVERLAPPEDWINDOW,
                              120, 120, 300, 200, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOW);
  MSG msg;
  while (window != nullptr && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    (void)TranslateMessage(&msg);
    (void)DispatchMessageA(&msg);
  }
  return 0;
}
