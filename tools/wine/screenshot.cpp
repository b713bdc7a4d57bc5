// Saves what the X display shows as a PNG: screenshot.exe PATH (a Windows path).
#include <windows.h>

#include "Screenshot.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    return 2;
  }
  return umbrane::testing::SaveScreenshot(argv[1]) ? 0 : 1;
}
