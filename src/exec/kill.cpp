// exec kill and exec status: signals and probes by process id.

#include <errno.h>
#include <signal.h>
#include <time.h>

#include <cmath>
#include <string>

#include "base/os_error.h"
#include "base/sys.h"
#include "exec/messages.h"
#include "exec/operations.h"
#include "json/error_result.h"

namespace tovrel::exec {

namespace {

// A process that ends on SIGTERM is reported at most this late, and a grace period is
// counted in these steps.
constexpr long kKillProbeIntervalNanos = 100'000'000;
constexpr std::uint32_t kMaxPid = 2147483647;

// kill() reads 0 as our process group and larger values (negative as pid_t) as groups or
// every process; such values never reach it.
bool is_process_id(std::uint32_t pid) { return pid >= 1 && pid <= kMaxPid; }

// Exists and may be signalled (a zombie included).
bool probe(pid_t pid) { return ::kill(pid, 0) == 0; }

// The process a kill is about, pinned at the start by a pidfd where the system has them:
// across the grace its id may be freed and given to a new process, which must never get our
// signals. Where pidfds are missing (or the id names no process we can pin), by its bare id.
class Target {
 public:
  explicit Target(pid_t pid) : pid_(pid), pidfd_(base::pidfd_open(pid)) {}

  // As kill(2): 0, or -1 with errno.
  int send(int sig) {
    if (pidfd_.valid()) {
      if (base::pidfd_send_signal(pidfd_.get(), sig) == 0) return 0;
      if (errno != ENOSYS) return -1;
      pidfd_.reset();  // a system that opens pidfds but cannot signal through them
    }
    return ::kill(pid_, sig);
  }

  // Exists and may be signalled (a zombie included).
  bool alive() { return send(0) == 0; }

 private:
  pid_t pid_;
  base::Fd pidfd_;
};

void sleep_probe_interval() { (void)base::sleep_fully(timespec{0, kKillProbeIntervalNanos}); }

json::JsonValue kill_success(std::uint32_t pid, std::string_view method) {
  json::JsonValue result = json::object();
  result["method"] = method;
  result["pid"] = static_cast<std::uint64_t>(pid);
  result["success"] = true;
  return result;
}

json::JsonValue kill_failure(std::uint32_t pid, std::string error) {
  json::JsonValue result = json::error_result(std::move(error));
  result["pid"] = static_cast<std::uint64_t>(pid);
  result["success"] = false;
  return result;
}

}  // namespace

std::uint32_t grace_ticks(double grace) {
  const double ticks = std::ceil(grace / 0.1);
  if (!(ticks > 0.0)) return 0;  // NaN, zero and below
  if (ticks >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(ticks);
}

json::JsonValue kill_process(std::uint32_t pid, double grace) {
  if (!is_process_id(pid)) {
    return kill_failure(
        pid, base::with_cause(base::with_cause(kInvalidPid, std::to_string(pid)), kInvalidPidRule));
  }
  Target target(static_cast<pid_t>(pid));
  if (!target.alive()) return kill_success(pid, kMethodAlreadyDead);
  if (target.send(SIGTERM) != 0) {
    return kill_failure(pid, base::with_cause(kSigtermFailed, base::os_error_text(errno)));
  }
  const std::uint32_t ticks = grace_ticks(grace);
  for (std::uint32_t i = 0; i < ticks; ++i) {
    sleep_probe_interval();
    if (!target.alive()) return kill_success(pid, kMethodTerminated);
  }
  if (target.send(SIGKILL) == 0) return kill_success(pid, kMethodKilled);
  const int err = errno;
  if (!target.alive()) return kill_success(pid, kMethodTerminated);
  return kill_failure(pid, base::with_cause(kSigkillFailed, base::os_error_text(err)));
}

json::JsonValue process_status(std::uint32_t pid) {
  json::JsonValue result = json::object();
  result["alive"] = is_process_id(pid) && probe(static_cast<pid_t>(pid));
  result["pid"] = static_cast<std::uint64_t>(pid);
  return result;
}

}  // namespace tovrel::exec
