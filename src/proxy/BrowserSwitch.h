// The one entry point through which the rest of the program changes browser
// settings: apply points every supported browser at the local proxy, restore
// puts every one back on a direct connection.
//
// The controller holds it through this interface so that its own tests can
// see when, and in which order with its other effects, the browsers are
// switched; the browser steps themselves are tested on their own.
#pragma once

#include <string>

namespace umbrane {

class IBrowserSwitch {
 public:
  virtual ~IBrowserSwitch() = default;

  virtual void SetBrowsersProxy(bool enable, const std::string& proxy, const std::string& country,
                                const std::string& bypass) = 0;
};

// The production switch. It walks the browsers in their fixed order; the
// browser steps join it as they are built, and until then it changes nothing.
class BrowserSwitch final : public IBrowserSwitch {
 public:
  void SetBrowsersProxy(bool enable, const std::string& proxy, const std::string& country,
                        const std::string& bypass) override;
};

}  // namespace umbrane
