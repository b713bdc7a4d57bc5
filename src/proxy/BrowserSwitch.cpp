#include "proxy/BrowserSwitch.h"

namespace umbrane {

void BrowserSwitch::SetBrowsersProxy(bool /*enable*/, const std::string& /*proxy*/,
                                     const std::string& /*country*/,
                                     const std::string& /*bypass*/) {
  // The system, Firefox, Opera and Netscape steps are not built yet, so
  // there is nothing to switch.
}

}  // namespace umbrane
