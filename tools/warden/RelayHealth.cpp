#include "RelayHealth.h"

#include "Relays.h"
#include "Status.h"

namespace warden {

RelayHealth::RelayHealth(asio::io_context& io, RelayPool& pool)
    : pool_(pool),
      random_(std::random_device{}()),
      keeper_(RelayKeeper::Clock::now(),
              [this] { return std::uniform_real_distribution<double>(0.0, 1.0)(random_); }),
      look_(io),
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

void RelayHealth::Start() {
  pool_.OnSeen([this](bool ok) {
    keeper_.OpenEnded(ok);
    Update();
  });
  network_.Start();
  Update();
}

void RelayHealth::ClientArrived() {
  keeper_.ClientArrived(RelayKeeper::Clock::now());
  Update();
}

void RelayHealth::Suspect(const std::string& why) {
  // A line Umbrane does not log, for whoever reads the agent's output.
  Status(status::kQuiet, why + ": the connections kept ready are dropped, the relay checked");
  pool_.Drop();
  keeper_.Suspect();
  Update();
}

// What the rules say now: how many to keep, what to tell, when to look.
void RelayHealth::Update() {
  const auto now = RelayKeeper::Clock::now();
  pool_.KeepReady(keeper_.Ready(now));
  switch (keeper_.TakeReport()) {
    case RelayKeeper::Report::Lost:
      Status(status::kDisconnected,
             pool_.List().list.size() == 1 ? "lost the relay" : "no relay answers");
      break;
    case RelayKeeper::Report::Back:
      // Ready again: Umbrane switches the browsers back to the tunnel.
      Status(status::kReady,
             Place(pool_.List(), pool_.InUse()) + " answers again; accepting proxy connections");
      unverifiedTold_ = false;
      break;
    case RelayKeeper::Report::None:
      break;
  }
  // A look already due sooner stays: clients arriving every few seconds
  // must not push the renewal of the connections kept ready away for ever.
  // (A look that finds nothing to do costs nothing.)
  const auto next = keeper_.NextLook(now);
  if (next >= armed_) {
    return;
  }
  armed_ = next;
  look_.expires_at(next);
  look_.async_wait([this](asio::error_code ec) {
    if (!ec) {
      armed_ = RelayKeeper::Time::max();
      Look();
    }
  });
}

void RelayHealth::Look() {
  switch (keeper_.Look(RelayKeeper::Clock::now(), pool_.OldestAge())) {
    case RelayKeeper::Do::Probe:
      pool_.Open(
          [this](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
            keeper_.ProbeEnded(RelayKeeper::Clock::now(), !ec);
            if (!ec) {
              pool_.Add(std::move(channel));  // the probe's connection is kept ready
            }
            Update();
          },
          RelayPool::kProbeTimeout);
      break;
    case RelayKeeper::Do::RenewOldest:
      pool_.RenewOldest(RelayKeeper::kRenewAge);
      break;
    case RelayKeeper::Do::Nothing:
      break;
  }
  Update();
}

}  // namespace warden
