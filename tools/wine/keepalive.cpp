// Stays alive with one hidden window so that Wine's desktop process lives for
// the whole test run. The Wine session ends it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.lpszClassName = "UmbraneWineKeepAlive";
  (void)RegisterClassA(&wc);
  HWND window =
      CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  MSG msg;
  while (window != nullptr && GetMessageA(&msg, nullptr, 0, 0) > 0) {
    (void)DispatchMessageA(&msg);
  }
  return 0;
}
