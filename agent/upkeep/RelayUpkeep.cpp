#include "upkeep/RelayUpkeep.h"

#include "common/Status.h"
#include "relay/Relays.h"

namespace warden {

RelayUpkeep::RelayUpkeep(asio::io_context& io, RelayPool& pool)
    : pool_(pool),
      random_(std::random_device{}()),
      wake_(io),
      upkeep_(*this, [this] { return std::uniform_real_distribution<double>(0.0, 1.0)(random_); }),
      network_(io, [this](const std::string& why) { Suspect(why); }) {
  pool_.OnUnverified([this](std::size_t index, const std::string& problem) {
    if (!unverifiedTold_) {
      // Another key on the way to a relay: Umbrane tells the user.
      unverifiedTold_ = true;
      Status(status::kIdentifyFailed, std::string(status::kRelayNotVerified) + ": " +
                                          Place(pool_.List(), index) + ": " + problem);
    }
  });
  pool_.OnSwitched([this](std::size_t index) {
    // The first to try next time too.
    Status(status::kQuiet, "now through " + Place(pool_.List(), index));
    Keep(kInUseFile, pool_.List().list[index].Name());
  });
}

void RelayUpkeep::Start() {
  pool_.OnSeen([this](bool ok) { upkeep_.OpenEnded(ok); });
  network_.Start();
  upkeep_.Start();
}

void RelayUpkeep::Suspect(const std::string& why) {
  // A line Umbrane does not log, for whoever reads the agent's output.
  Status(status::kQuiet, why + ": the connections kept ready are dropped, the relay checked");
  upkeep_.Suspect();
}

void RelayUpkeep::WakeAt(Time when) {
  wake_.expires_at(when);  // an earlier wait ends with operation_aborted
  wake_.async_wait([this](asio::error_code ec) {
    if (!ec) {
      upkeep_.Wake();
    }
  });
}

void RelayUpkeep::Probe() {
  pool_.Open(
      [this](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
        if (!ec) {
          pool_.Add(std::move(channel));  // the probe's connection is kept ready
        }
        upkeep_.ProbeEnded(!ec);
      },
      RelayPool::kProbeTimeout);
}

void RelayUpkeep::Tell(UpkeepRules::Report report) {
  if (report == UpkeepRules::Report::Lost) {
    Status(status::kDisconnected,
           pool_.List().list.size() == 1 ? "lost the relay" : "no relay answers");
  } else if (report == UpkeepRules::Report::Back) {
    // Ready again: Umbrane switches the browsers back to the tunnel.
    Status(status::kReady,
           Place(pool_.List(), pool_.InUse()) + " answers again; accepting proxy connections");
    unverifiedTold_ = false;
  }
}

}  // namespace warden
