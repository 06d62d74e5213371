#pragma once
// Every message text of the exec commands, in one place. Steps that carry a cause are joined
// to it by base::with_cause ("{step}: {cause}").

#include <string>
#include <string_view>

namespace tovrel::exec {

inline constexpr std::string_view kFailedToSpawn = "Failed to spawn";
inline constexpr std::string_view kWaitFailed = "Wait failed";
inline constexpr std::string_view kFailedToOpenLog = "Failed to open log file";
inline constexpr std::string_view kFailedToCloneLog = "Failed to clone log fd";
inline constexpr std::string_view kSigtermFailed = "SIGTERM failed";
inline constexpr std::string_view kSigkillFailed = "SIGKILL failed";

// "Command timed out after {timeout} seconds\n", the timeout as its Decimal text.
inline constexpr std::string_view kTimedOutBefore = "Command timed out after ";
inline constexpr std::string_view kTimedOutAfter = " seconds\n";
std::string timed_out_text(double timeout);

// "Failed to spawn: {error}", also the start failure of exec spawn.
std::string spawn_failure_text(int errnum);
// "Wait failed: {error}".
std::string wait_failure_text(int errnum);

// "invalid timeout: {timeout}: must be ...", for a timeout that is no duration.
inline constexpr std::string_view kInvalidTimeout = "invalid timeout";
inline constexpr std::string_view kInvalidTimeoutRule =
    "must be a finite number of seconds from 0 to 18446744073709551615";
std::string invalid_timeout_message(double timeout);

// "invalid process id: {pid}: must be from 1 to 2147483647", for kill of 0 or a value that is
// no process id of this platform (kill() would read it as a process group).
inline constexpr std::string_view kInvalidPid = "invalid process id";
inline constexpr std::string_view kInvalidPidRule = "must be from 1 to 2147483647";

// The internal failure of a wait whose poll fails: "poll: {cause}".
inline constexpr std::string_view kPollFailed = "poll";

inline constexpr std::string_view kFailedToSpawnThread = "failed to spawn thread";
inline constexpr std::string_view kFailedToJoinThread = "failed to join thread";

// The `method` of a successful exec kill.
inline constexpr std::string_view kMethodAlreadyDead = "already_dead";
inline constexpr std::string_view kMethodTerminated = "terminated";
inline constexpr std::string_view kMethodKilled = "killed";

}  // namespace tovrel::exec
