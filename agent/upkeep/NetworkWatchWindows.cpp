// The system's notice of a change of the network's addresses, on Windows.
#include "upkeep/NetworkWatch.h"

#include <iphlpapi.h>

namespace warden {

NetworkWatch::NetworkWatch(asio::io_context& io, Changed changed)
    : changed_(std::move(changed)),
      tick_(io),
      event_(io, CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

NetworkWatch::~NetworkWatch() {
  if (notifying_) {
    (void)CancelIPChangeNotify(&overlapped_);  // the event is closed by its owner after
  }
}

void NetworkWatch::WatchSystem() {
  overlapped_ = {};
  overlapped_.hEvent = event_.native_handle();
  HANDLE handle = nullptr;
  notifying_ =
      overlapped_.hEvent != nullptr && NotifyAddrChange(&handle, &overlapped_) == ERROR_IO_PENDING;
  if (!notifying_) {
    return;  // no notice from this system: the clock still tells of a sleep
  }
  event_.async_wait([this](asio::error_code ec) {
    notifying_ = false;
    if (ec) {
      return;
    }
    changed_("the network's addresses changed");
    WatchSystem();
  });
}
}  // namespace warden
