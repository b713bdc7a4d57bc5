#include "win32/DialogLayout.h"

#include <algorithm>

namespace umbrane::win32 {

namespace {

// The layout, in 96-DPI units.
constexpr int kMargin = 16;
constexpr int kIconSize = 32;
constexpr int kTextMaxWidth = 360;
constexpr int kButtonHeight = 26;
constexpr int kButtonMinWidth = 80;
constexpr int kButtonGap = 8;
constexpr int kTitleBand = 28;
// The ids of the system's own message box, so tools that read boxes work.
constexpr int kTextId = 0xFFFF;
constexpr int kIconId = 0x0014;

HFONT MessageFont(const SkinLook* look, bool bold, UINT dpi) {
  if (look != nullptr) {
    return CreateSkinFont(look->noticeFont, dpi, false, bold);
  }
  const LOGFONTA font = MessageFontForDpi(dpi);
  return CreateFontIndirectA(&font);
}

SIZE MeasureText(HWND window, HFONT font, const std::string& text, int maxWidth) {
  RECT r = {0, 0, maxWidth, 0};
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  (void)DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);
  (void)SelectObject(dc, old);
  (void)ReleaseDC(window, dc);
  return {r.right - r.left, r.bottom - r.top};
}

HWND Child(HWND parent, const char* cls, const std::string& text, DWORD style, int id) {
  return CreateWindowExA(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

void Layout(HWND dialog, DialogState& state, const RECT* suggested) {
  const DialogContent& content = *state.content;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(dialog, GW_CHILD)) {
    (void)DestroyWindow(child);
  }
  state.dpi = WindowDpi(dialog);
  state.font.Reset(MessageFont(content.look, false, state.dpi));
  state.titleFont.Reset(MessageFont(content.look, true, state.dpi));
  HFONT font = static_cast<HFONT>(state.font.Get());
  auto px = [&state](int units) { return state.Px(units); };
  const int top = content.look != nullptr ? px(kTitleBand) : 0;
  const int margin = px(kMargin);
  const int iconSize = px(kIconSize);

  // The system's picture at this size (a loaded copy, not the shared one).
  state.icon.Reset(static_cast<HICON>(
      LoadImageA(nullptr, content.icon, IMAGE_ICON, iconSize, iconSize, LR_DEFAULTCOLOR)));
  HWND icon = Child(dialog, "STATIC", "", SS_ICON | SS_REALSIZECONTROL, kIconId);
  (void)SendMessageA(icon, STM_SETICON,
                     reinterpret_cast<WPARAM>(state.icon.Valid() ? state.icon.Get()
                                                                 : LoadIcon(nullptr, content.icon)),
                     0);
  (void)MoveWindow(icon, margin, top + margin, iconSize, iconSize, FALSE);

  const SIZE text = MeasureText(dialog, font, content.text, px(kTextMaxWidth));
  const int textX = margin + iconSize + px(12);
  HWND label = Child(dialog, "STATIC", content.text, SS_LEFT | SS_NOPREFIX, kTextId);
  (void)SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const int textY = top + margin + std::max(0, (iconSize - static_cast<int>(text.cy)) / 2);
  (void)MoveWindow(label, textX, textY, text.cx, text.cy, FALSE);

  std::vector<int> widths;
  int buttonsWidth = 0;
  for (const Button& b : content.buttons) {
    const int w = std::max<int>(px(kButtonMinWidth),
                                MeasureText(dialog, font, b.caption, px(1000)).cx + px(24));
    widths.push_back(w);
    buttonsWidth += w + (widths.size() > 1 ? px(kButtonGap) : 0);
  }
  const int clientWidth =
      std::max({textX + static_cast<int>(text.cx) + margin, buttonsWidth + 2 * margin, px(260)});
  const int buttonsY =
      std::max(top + margin + iconSize, textY + static_cast<int>(text.cy)) + px(16);
  int x = (clientWidth - buttonsWidth) / 2;
  HWND first = nullptr;
  for (std::size_t i = 0; i < content.buttons.size(); ++i) {
    const DWORD style = WS_TABSTOP | (i == 0 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    HWND button = Child(dialog, "BUTTON", content.buttons[i].caption, style, content.buttons[i].id);
    (void)SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    (void)MoveWindow(button, x, buttonsY, widths[i], px(kButtonHeight), FALSE);
    x += widths[i] + px(kButtonGap);
    first = first != nullptr ? first : button;
  }

  const RECT frame =
      FrameForClient({0, 0, clientWidth, buttonsY + px(kButtonHeight) + margin},
                     static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_STYLE)),
                     static_cast<DWORD>(GetWindowLongPtrA(dialog, GWL_EXSTYLE)), state.dpi);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  (void)SetWindowTextA(dialog, content.caption.c_str());
  const int left =
      suggested != nullptr ? suggested->left : (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y =
      suggested != nullptr ? suggested->top : (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  (void)SetWindowPos(dialog, suggested != nullptr ? nullptr : HWND_TOP, left, y, width, height,
                     suggested != nullptr ? SWP_NOZORDER | SWP_NOACTIVATE : 0);
  (void)InvalidateRect(dialog, nullptr, TRUE);
  (void)SendMessageA(dialog, DM_SETDEFID, static_cast<WPARAM>(content.buttons.front().id), 0);
  (void)SetFocus(first);
}

void PaintTitleBand(HWND dialog, const DialogState& state) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  if (const SkinLook* look = state.content->look) {
    RECT band = {};
    (void)GetClientRect(dialog, &band);
    band.bottom = state.Px(kTitleBand);
    UniqueGdi brush(CreateSolidBrush(ToColorRef(look->noticeTitleColor)));
    (void)FillRect(dc, &band, static_cast<HBRUSH>(brush.Get()));
    band.left += state.Px(kMargin);
    HGDIOBJ old = SelectObject(dc, state.titleFont.Get());
    (void)SetBkMode(dc, TRANSPARENT);
    (void)SetTextColor(dc, ToColorRef(look->noticeTitleTextColor));
    (void)DrawTextA(dc, state.content->caption.c_str(), -1, &band,
                    DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    (void)SelectObject(dc, old);
  }
  (void)EndPaint(dialog, &paint);
}

}  // namespace umbrane::win32
