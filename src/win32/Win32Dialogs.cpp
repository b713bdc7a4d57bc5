#include "win32/Win32Dialogs.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "app/SkinnedNotice.h"
#include "win32/Clipboard.h"
#include "win32/DialogLayout.h"
#include "win32/Dpi.h"
#include "win32/Gdi.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

namespace {

// A dialog shown without waiting, from its creation to its end: the
// content and state its window reads live here.
struct Modeless {
  DialogContent content;
  DialogState state;
};

// The dialogs shown without waiting that are open now, for the program's
// message loop (keys) and for their end.
std::vector<std::pair<HWND, std::unique_ptr<Modeless>>>& OpenModeless() {
  static std::vector<std::pair<HWND, std::unique_ptr<Modeless>>> open;
  return open;
}

void Finish(HWND dialog, DialogState& state, int answer) {
  state.result = answer;
  state.done = true;
  if (!state.modeless) {
    return;  // the modal loop sees it done
  }
  auto& open = OpenModeless();
  const auto it = std::find_if(open.begin(), open.end(),
                               [dialog](const auto& entry) { return entry.first == dialog; });
  if (it == open.end()) {
    return;
  }
  // Taken out first: the answer may open another dialog.
  std::unique_ptr<Modeless> ended = std::move(it->second);
  open.erase(it);
  (void)DestroyWindow(dialog);
  if (ended->state.answered) {
    ended->state.answered(answer);
  }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    (void)SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    Layout(dialog, *reinterpret_cast<DialogState*>(lParam));
    return FALSE;  // the focus was set by the layout
  }
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (state == nullptr) {
    return FALSE;
  }
  const SkinLook* look = state->content->look;
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == IDCANCEL) {
        Finish(dialog, *state, state->content->cancelAnswer);
        return TRUE;
      }
      for (const Button& b : state->content->buttons) {
        if (b.id == id && HIWORD(wParam) == BN_CLICKED) {
          Finish(dialog, *state, id);
          return TRUE;
        }
      }
      return FALSE;
    }
    case WM_CLOSE:
      Finish(dialog, *state, state->content->cancelAnswer);
      return TRUE;
    case WM_NCDESTROY:
      if (state->modeless) {
        // Destroyed with its owner (the program closing): it answers nothing.
        auto& open = OpenModeless();
        open.erase(std::remove_if(open.begin(), open.end(),
                                  [dialog](const auto& entry) { return entry.first == dialog; }),
                   open.end());
      }
      return FALSE;
    case kDpiChangedMessage:
      Layout(dialog, *state, reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_PAINT:
      if (look != nullptr) {
        PaintTitleBand(dialog, *state);
        return TRUE;
      }
      return FALSE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (look != nullptr) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        (void)SetTextColor(dc, ToColorRef(look->noticeTextColor));
        (void)SetBkColor(dc, ToColorRef(look->noticeColor));
        return reinterpret_cast<INT_PTR>(state->background.Get());
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// Disables the thread's other visible windows while a dialog is up, as a
// task-modal box does, and enables them again afterwards.
class ThreadWindowsDisabled {
 public:
  explicit ThreadWindowsDisabled(HWND except) : except_(except) {
    (void)EnumThreadWindows(GetCurrentThreadId(), &Visit, reinterpret_cast<LPARAM>(this));
  }
  ~ThreadWindowsDisabled() {
    for (HWND hwnd : disabled_) {
      (void)EnableWindow(hwnd, TRUE);
    }
  }

 private:
  static BOOL CALLBACK Visit(HWND hwnd, LPARAM self) {
    auto* me = reinterpret_cast<ThreadWindowsDisabled*>(self);
    if (hwnd != me->except_ && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd)) {
      (void)EnableWindow(hwnd, FALSE);
      me->disabled_.push_back(hwnd);
    }
    return TRUE;
  }

  HWND except_;
  std::vector<HWND> disabled_;
};

// Puts `dialog` in front. Windows refuses the foreground to a program that
// is not in front itself (a box raised from a timer, or during the start-up
// download): the box is then kept above every other window instead, so it
// never opens behind the active one, and its button flashes.
void BringToFront(HWND dialog) {
  (void)SetForegroundWindow(dialog);
  if (GetForegroundWindow() == dialog) {
    return;
  }
  (void)SetWindowPos(dialog, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  FLASHWINFO flash = {sizeof flash, dialog, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  (void)FlashWindowEx(&flash);
}

// Creates the dialog, owned by `owner`, with the state its window reads.
HWND CreateDialogWindow(const DialogContent& content, DialogState& state, HWND owner) {
  struct alignas(DWORD) Template {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  } tmpl = {};
  tmpl.dialog.style = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
  tmpl.dialog.dwExtendedStyle = WS_EX_DLGMODALFRAME;
  state.content = &content;
  if (content.look != nullptr) {
    state.background.Reset(CreateSolidBrush(ToColorRef(content.look->noticeColor)));
  }
  return CreateDialogIndirectParamA(GetModuleHandleA(nullptr), &tmpl.dialog,
                                    owner != nullptr && IsWindow(owner) ? owner : nullptr,
                                    DialogProc, reinterpret_cast<LPARAM>(&state));
}

// Ctrl+C in a skinned notice copies its caption, text and button.
bool CopiedNotice(HWND dialog, const DialogContent& content, const MSG& msg) {
  const bool forDialog = msg.hwnd == dialog || IsChild(dialog, msg.hwnd);
  if (!forDialog || content.look == nullptr || msg.message != WM_KEYDOWN ||
      !IsCopyChord(static_cast<int>(msg.wParam), GetKeyState(VK_CONTROL) < 0)) {
    return false;
  }
  std::vector<std::string> captions;
  for (const Button& b : content.buttons) {
    captions.push_back(b.caption);
  }
  (void)PutClipboardText(dialog, NoticeCopyText(content.caption, content.text, captions));
  return true;
}

// Runs the dialog, owned by `owner`, until it is answered; the message loop
// keeps serving the thread's other windows and timers meanwhile.
int RunDialog(const DialogContent& content, HWND owner = nullptr) {
  DialogState state;
  HWND dialog = CreateDialogWindow(content, state, owner);
  if (dialog == nullptr) {
    return content.cancelAnswer;
  }
  {
    ThreadWindowsDisabled modal(dialog);
    (void)ShowWindow(dialog, SW_SHOW);
    BringToFront(dialog);
    MSG msg;
    // A dialog destroyed with its owner (the program closing) ends too.
    while (!state.done && IsWindow(dialog)) {
      const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
      if (got == 0) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // let the outer loop end too
        state.result = content.cancelAnswer;
        break;
      }
      if (got < 0) {
        break;
      }
      if (CopiedNotice(dialog, content, msg)) {
        continue;
      }
      if (!IsDialogMessageA(dialog, &msg)) {
        (void)TranslateMessage(&msg);
        (void)DispatchMessageA(&msg);
      }
    }
  }
  if (IsWindow(dialog)) {
    (void)DestroyWindow(dialog);
  }
  return state.result;
}

// Shows the dialog and returns at once; `answered`, when given, gets the
// button chosen.
void OpenDialog(DialogContent content, HWND owner, std::function<void(int)> answered) {
  auto dialog = std::make_unique<Modeless>();
  dialog->content = std::move(content);
  dialog->state.modeless = true;
  dialog->state.answered = std::move(answered);
  HWND window = CreateDialogWindow(dialog->content, dialog->state, owner);
  if (window == nullptr) {
    if (dialog->state.answered) {
      dialog->state.answered(dialog->content.cancelAnswer);
    }
    return;
  }
  OpenModeless().emplace_back(window, std::move(dialog));
  (void)ShowWindow(window, SW_SHOW);
  BringToFront(window);
}

DialogContent MessageBoxContent(const std::string& text, MessageKind kind, MessageButtons buttons) {
  const bool yesNo = buttons == MessageButtons::YesNo;
  return {kind == MessageKind::Error ? "Error" : "Warning",
          text,
          kind == MessageKind::Error ? IDI_ERROR : IDI_WARNING,
          yesNo ? std::vector<Button>{{IDYES, "&Yes"}, {IDNO, "&No"}}
                : std::vector<Button>{{IDOK, "OK"}},
          yesNo ? IDNO : IDOK,
          nullptr};
}

MessageAnswer AnswerOf(int id, MessageButtons buttons) {
  if (buttons != MessageButtons::YesNo) {
    return MessageAnswer::Ok;
  }
  return id == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
}

}  // namespace

MessageAnswer Win32Dialogs::ShowMessageBox(const std::string& text, MessageKind kind,
                                           MessageButtons buttons) {
  return AnswerOf(RunDialog(MessageBoxContent(text, kind, buttons), owner_), buttons);
}

void Win32Dialogs::ShowMessageBoxLater(const std::string& text, MessageKind kind,
                                       MessageButtons buttons,
                                       std::function<void(MessageAnswer)> answered) {
  std::function<void(int)> told;
  if (answered) {
    told = [buttons, answered = std::move(answered)](int id) { answered(AnswerOf(id, buttons)); };
  }
  OpenDialog(MessageBoxContent(text, kind, buttons), owner_, std::move(told));
}

void Win32Dialogs::ShowErrorBox(const std::string& caption, const std::string& text) {
  (void)RunDialog({caption, text, IDI_ERROR, {{IDOK, "OK"}}, IDOK, nullptr}, owner_);
}

void Win32Dialogs::ShowNotice(const SkinLook& look, const std::string& caption,
                              const std::string& buttonCaption, const std::string& text) {
  // The look is kept with the dialog: the caller's goes when it returns.
  auto kept = std::make_shared<SkinLook>(look);
  OpenDialog({caption, text, IDI_WARNING, {{IDOK, buttonCaption}}, IDOK, kept.get()}, owner_,
             [kept](int) {});
}

bool ModelessDialogMessage(MSG& msg) {
  for (const auto& [dialog, open] : OpenModeless()) {
    if (CopiedNotice(dialog, open->content, msg)) {
      return true;
    }
    if (IsDialogMessageA(dialog, &msg)) {
      return true;
    }
  }
  return false;
}

}  // namespace umbrane::win32
