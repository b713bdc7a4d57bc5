// The program's own message dialogs, answered from another thread the way a
// person (or automation) would, with a timer ticking underneath.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "Screenshot.h"
#include "WaitFor.h"
#include "app/SkinnedNotice.h"
#include "win32/Win32Dialogs.h"

namespace umbrane::win32 {
namespace {

using testing::WaitFor;

std::string Text(HWND window) {
  char buffer[512] = {};
  (void)GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// This process's visible dialog with `caption`, or null.
HWND FindDialog(const char* caption) {
  HWND found = FindWindowA(kDialogClass, caption);
  DWORD owner = 0;
  (void)GetWindowThreadProcessId(found, &owner);
  return found != nullptr && owner == GetCurrentProcessId() && IsWindowVisible(found) ? found
                                                                                      : nullptr;
}

std::atomic<int> ticks{0};
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) {
  ++ticks;
}

// Runs `answer` on a helper thread once the dialog `caption` is up, while
// this thread sits in the dialog; a 50 ms timer ticks meanwhile.
class Answering {
 public:
  Answering(const char* caption, std::function<void(HWND)> answer) {
    ticks = 0;
    timer_ = SetTimer(nullptr, 0, 50, &CountTick);
    helper_ = std::thread([caption, answer] {
      HWND box = nullptr;
      if (WaitFor([&] { return (box = FindDialog(caption)) != nullptr; }) &&
          WaitFor([] { return ticks >= 3; })) {
        answer(box);
      }
    });
  }
  ~Answering() {
    helper_.join();
    (void)KillTimer(nullptr, timer_);
  }

 private:
  UINT_PTR timer_ = 0;
  std::thread helper_;
};

// The program's own loop, as WinMain runs it, until `done` or 10 s.
void ProgramLoopUntil(const std::function<bool()>& done) {
  const ULONGLONG end = GetTickCount64() + 10000;
  MSG msg;
  while (!done() && GetTickCount64() < end) {
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      Sleep(5);
      continue;
    }
    if (!ModelessDialogMessage(msg)) {
      (void)TranslateMessage(&msg);
      (void)DispatchMessageA(&msg);
    }
  }
}

TEST(Win32Dialogs, QuestionHasYesAndNoAndEscapeAnswersNo) {
  std::string yes, no, text;
  Win32Dialogs dialogs;
  MessageAnswer answer;
  {
    Answering helper("Warning", [&](HWND box) {
      RECT area = {};
      (void)GetWindowRect(box, &area);
      (void)testing::SaveScreenshot(testing::HostPath(UMBRANE_SCREENSHOTS "/question.png"), area);
      yes = Text(GetDlgItem(box, IDYES));
      no = Text(GetDlgItem(box, IDNO));
      text = Text(GetDlgItem(box, 0xFFFF));
      (void)PostMessageA(box, WM_COMMAND, IDCANCEL, 0);  // what Escape sends
    });
    // Shown without waiting: the answer comes from the program's loop.
    std::optional<MessageAnswer> later;
    dialogs.ShowMessageBoxLater(
        "Umbrane can not connect to internet. If you have a personal firewall please setup it to "
        "let Umbrane pass. Do you want Umbrane to try it again?",
        MessageKind::Warning, MessageButtons::YesNo, [&](MessageAnswer a) { later = a; });
    EXPECT_FALSE(later.has_value()) << "returned before the user answered";
    ProgramLoopUntil([&] { return later.has_value(); });
    answer = later.value_or(MessageAnswer::Ok);
  }
  EXPECT_EQ(answer, MessageAnswer::No);
  EXPECT_EQ(FindDialog("Warning"), nullptr) << "the answered box is gone";
  EXPECT_EQ(yes, "&Yes");
  EXPECT_EQ(no, "&No");
  EXPECT_EQ(text.rfind("Umbrane can not connect to internet.", 0), 0u);
  EXPECT_GE(ticks, 3) << "timers keep firing while the box is up";
}

TEST(Win32Dialogs, YesIsTheDefaultButton) {
  Win32Dialogs dialogs;
  MessageAnswer answer;
  {
    Answering helper("Warning", [](HWND box) {
      const LRESULT def = SendMessageA(box, DM_GETDEFID, 0, 0);
      (void)PostMessageA(box, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED), 0);
    });
    answer = dialogs.ShowMessageBox("Try it again?", MessageKind::Warning, MessageButtons::YesNo);
  }
  EXPECT_EQ(answer, MessageAnswer::Yes);
}

TEST(Win32Dialogs, ErrorBoxHasOneOkButtonAndItsCloseBoxAnswersOk) {
  Win32Dialogs dialogs;
  std::string ok;
  bool noYes = false;
  MessageAnswer answer;
  {
    Answering helper("Error", [&](HWND box) {
      ok = Text(GetDlgItem(box, IDOK));
      noYes = GetDlgItem(box, IDYES) == nullptr;
      (void)PostMessageA(box, WM_CLOSE, 0, 0);
    });
    answer = dialogs.ShowMessageBox("Can not find Wardan", MessageKind::Error, MessageButtons::Ok);
  }
  EXPECT_EQ(answer, MessageAnswer::Ok);
  EXPECT_EQ(ok, "OK");
  EXPECT_TRUE(noYes);
}

TEST(Win32Dialogs, NoticeShowsItsCaptionAndButtonAndCopiesItsText) {
  Win32Dialogs dialogs;
  std::string button, clipboard;
  ASSERT_TRUE(OpenClipboard(nullptr));
  (void)EmptyClipboard();
  (void)CloseClipboard();
  {
    Answering helper("Umbrane", [&](HWND box) {
      RECT area = {};
      (void)GetWindowRect(box, &area);
      (void)testing::SaveScreenshot(testing::HostPath(UMBRANE_SCREENSHOTS "/notice.png"), area);
      button = Text(GetDlgItem(box, IDOK));
      // Ctrl held in the dialog thread's key state, then C goes down. The
      // key state is shared through the attached input, and the dialog
      // thread may refresh it from the system between the two steps, so the
      // chord is repeated (bounded) until the clipboard shows the text.
      const DWORD dialogThread = GetWindowThreadProcessId(box, nullptr);
      (void)AttachThreadInput(GetCurrentThreadId(), dialogThread, TRUE);
      BYTE keys[256] = {};
      for (int attempt = 0; attempt < 20 && clipboard.empty(); ++attempt) {
        (void)GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        (void)SetKeyboardState(keys);
        (void)PostMessageA(GetDlgItem(box, IDOK), WM_KEYDOWN, 'C', 0x002E0001);
        WaitFor(
            [&] {
              if (!OpenClipboard(nullptr)) {
                return false;
              }
              if (HANDLE data = GetClipboardData(CF_TEXT)) {
                clipboard = static_cast<const char*>(GlobalLock(data));
                GlobalUnlock(data);
              }
              CloseClipboard();
              return !clipboard.empty();
            },
            250);
      }
      keys[VK_CONTROL] = 0;
      (void)SetKeyboardState(keys);
      (void)AttachThreadInput(GetCurrentThreadId(), dialogThread, FALSE);
      (void)PostMessageA(box, WM_COMMAND, IDOK, 0);
    });
    dialogs.ShowNotice(SkinLook{}, "Umbrane", "Fine", "Please restart Opera.");
    ProgramLoopUntil([] { return FindDialog("Umbrane") == nullptr; });
  }
  EXPECT_EQ(button, "Fine");
  EXPECT_EQ(clipboard, NoticeCopyText("Umbrane", "Please restart Opera.", {"Fine"}));
}

}  // namespace
}  // namespace umbrane::win32
