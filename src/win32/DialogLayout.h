// The dialogs' own windows, as the dialog port builds them: what a dialog
// shows, the state its window reads, and its layout at the window's DPI
// (the system's look, or a skin's for the notices).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/Look.h"
#include "win32/Dpi.h"
#include "win32/Gdi.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

struct Button {
  int id;
  std::string caption;
};

struct DialogContent {
  std::string caption;
  std::string text;
  LPCSTR icon;
  std::vector<Button> buttons;  // the first is the default button
  int cancelAnswer;             // what Escape and the close box answer
  const SkinLook* look;         // the skinned notice's look, or the system's
};

using UniqueGdi = UniqueResource<HGDIOBJ, GdiObjectTraits>;

struct DialogState {
  const DialogContent* content = nullptr;
  int result = 0;
  bool done = false;
  // A dialog shown without waiting: it ends itself when answered, and then
  // tells `answered`.
  bool modeless = false;
  std::function<void(int)> answered;
  UINT dpi = kBaseDpi;
  UniqueGdi font;
  UniqueGdi titleFont;
  UniqueGdi background;
  UniqueIcon icon;

  int Px(int units) const { return Scale(units, dpi); }
};

// Builds the dialog's controls for its DPI and sizes it; centred on the
// screen, or at `suggested` after a DPI change.
void Layout(HWND dialog, DialogState& state, const RECT* suggested = nullptr);
// A notice's title band, in its skin's colours.
void PaintTitleBand(HWND dialog, const DialogState& state);

}  // namespace umbrane::win32
