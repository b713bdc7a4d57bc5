// The least of a skin: the colours and fonts of the about window, the skinned
// notice and the tray menu, read from an INI file (see res/default.skn for
// the format). A value that is missing or malformed keeps the default look,
// so a damaged skin never stops the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Look.h"
#include "platform/Profile.h"

namespace umbrane {

// "#RRGGBB" (hex digits in either case); nothing for any other text.
std::optional<Rgb> ParseColor(std::string_view text);

// The look of `skinFile`, each value falling back to the default on its own.
SkinLook ReadSkin(IProfile& profile, const std::string& skinFile);

}  // namespace umbrane
