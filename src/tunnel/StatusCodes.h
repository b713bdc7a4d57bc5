// The six-digit codes that start the tunnel agent's output lines: what the
// agent tells and what Umbrane acts on. One list for both sides, so that a
// code is named, not retyped. Umbrane compares only these six characters;
// the rest of a line is free text for the log reader.
#pragma once

namespace umbrane::status {

inline constexpr char kSearching[] = "160036";       // the agent prepares
inline constexpr char kConnecting[] = "160032";      // it connects to the relay
inline constexpr char kIdentifying[] = "160238";     // the relay checks the credentials
inline constexpr char kIdentifyingToo[] = "160270";  // the same, another wording
inline constexpr char kConnected[] = "160239";       // the relay accepted them
inline constexpr char kTimedOut[] = "110033";        // the relay did not answer in time
inline constexpr char kMissionFailed[] = "171001";   // bad command line, or the port is taken
inline constexpr char kIdentifyFailed[] = "160244";  // refused, or the relay not verified
inline constexpr char kDisconnected[] = "160037";    // a relay that worked is lost
inline constexpr char kReady[] = "160138";           // the local proxy accepts (again)
inline constexpr char kCannotConnect[] = "160033";   // the agent gives up: end it, retry
inline constexpr char kSilentUpdateError[] = "160243";
inline constexpr char kRefusedStranger[] = "160246";  // a program not the user's was refused
inline constexpr char kQuiet[] = "160325";            // nothing for the user
inline constexpr char kQuietToo[] = "160129";         // nothing for the user

// The text of a "160244" that is about the relay, not the credentials: its
// certificate or key did not prove it is the relay (someone between may be
// reading), and nothing of ours was sent.
inline constexpr char kRelayNotVerified[] = "the relay could not be verified";

// In a "160246": the client refused was not shown to be another user's,
// but the system could not name whose it was.
inline constexpr char kOwnerUnknown[] = "a program the system does not name";

}  // namespace umbrane::status
