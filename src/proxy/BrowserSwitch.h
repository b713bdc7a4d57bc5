// The one entry point through which the rest of the program changes browser
// settings: apply points every supported browser at the local proxy, restore
// puts every one back on a direct connection.
//
// The controller holds it through this interface so that its own tests can
// see when, and in which order with its other effects, the browsers are
// switched; the browser steps themselves are tested on their own.
#pragma once

#include <string>

#include "proxy/BrowserPorts.h"

namespace umbrane {

class IBrowserSwitch {
 public:
  virtual ~IBrowserSwitch() = default;

  virtual void SetBrowsersProxy(bool enable, const std::string& proxy, const std::string& country,
                                const std::string& bypass) = 0;
};

// The production switch: the system settings of the LAN (no dial-up
// connection active) or of every active dial-up connection, then Firefox,
// Opera and Netscape, each whether or not the earlier ones found their
// browser.
class BrowserSwitch final : public IBrowserSwitch {
 public:
  BrowserSwitch(BrowserPorts ports, BrowserContext context) : ports_(ports), context_(context) {}

  void SetBrowsersProxy(bool enable, const std::string& proxy, const std::string& country,
                        const std::string& bypass) override;

 private:
  BrowserPorts ports_;
  BrowserContext context_;
};

}  // namespace umbrane
