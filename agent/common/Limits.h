// What the agent allows the clients and the relay, so that no program on
// the machine and no relay can wear it down: every buffer of outside input
// is bounded, a client that says nothing is let go, and the number of
// connections served at once is capped. docs/AGENT.md lists them.
#pragma once

#include <chrono>
#include <cstddef>

namespace warden {

// A client's request head (HTTP) and the relay's reply head.
inline constexpr std::size_t kMaxHead = 16 * 1024;
// A host name a client may ask for (DNS allows 253).
inline constexpr std::size_t kMaxName = 255;
// A client must have sent its greeting and request by then.
inline constexpr std::chrono::seconds kGreetingTime{10};
// Client connections served at once; one more is closed at once.
inline constexpr std::size_t kMaxClients = 2000;
// How long accepting waits when the system has no descriptor to give.
inline constexpr std::chrono::milliseconds kAcceptPause{100};
// A connection with no byte either way for this long is closed.
inline constexpr std::chrono::seconds kIdleTimeout{600};
// Another user's program refused: told at most this often.
inline constexpr std::chrono::seconds kRefusalNoteEvery{60};

}  // namespace warden
