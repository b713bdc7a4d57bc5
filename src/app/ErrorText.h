// The text of the box that shows an error no event handler caught.
#pragma once

#include <string>

namespace umbrane {

// `message` with a full stop added when its last character sorts after ".":
// "Error to start Umbrane Warden!" stays as it is, "disk full" gains one.
std::string TopLevelErrorText(std::string message);

}  // namespace umbrane
