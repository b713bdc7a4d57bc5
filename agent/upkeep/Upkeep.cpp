#include "upkeep/Upkeep.h"

#include <utility>

namespace warden {

Upkeep::Upkeep(UpkeepWorld& world, std::function<double()> random)
    : world_(world), rules_(world.Now(), std::move(random)) {}

void Upkeep::ClientArrived() {
  rules_.ClientArrived(world_.Now());
  Update();
}

void Upkeep::Suspect() {
  world_.Drop();
  rules_.Suspect();
  Update();
}

void Upkeep::OpenEnded(bool ok) {
  rules_.OpenEnded(ok);
  Update();
}

void Upkeep::ProbeEnded(bool ok) {
  rules_.ProbeEnded(world_.Now(), ok);
  Update();
}

void Upkeep::Wake() {
  armed_ = UpkeepRules::Time::max();
  switch (rules_.Look(world_.Now(), world_.OldestAge())) {
    case UpkeepRules::Do::Probe:
      world_.Probe();
      break;
    case UpkeepRules::Do::RenewOldest:
      world_.RenewOldest(UpkeepRules::kRenewAge);
      break;
    case UpkeepRules::Do::Nothing:
      break;
  }
  Update();
}

void Upkeep::Update() {
  const auto now = world_.Now();
  world_.KeepReady(rules_.Ready(now));
  if (const auto report = rules_.TakeReport(); report != UpkeepRules::Report::None) {
    world_.Tell(report);
  }
  // A wake-up already due sooner stays: clients arriving every few seconds
  // must not push the renewal of the connections kept ready away for ever.
  // (A look that finds nothing to do costs nothing.)
  const auto next = rules_.NextLook(now);
  if (next < armed_) {
    armed_ = next;
    world_.WakeAt(next);
  }
}

}  // namespace warden
