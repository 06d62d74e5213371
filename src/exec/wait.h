#pragma once
// Waiting for a child under a timeout: the conversion of the timeout to a duration, the ways
// a wait ends, the kill after a timeout, and ChildWatch, which waits on the calling thread
// while it feeds the child's standard input and drains its output pipes.

#include <time.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/clock.h"
#include "base/io.h"
#include "exec/process.h"
#include "exec/signal_relay.h"

namespace tovrel::exec {

using TimeoutDuration = base::Duration;

// The duration of `timeout` seconds, from the double's exact value, the nanoseconds rounded
// to nearest (ties to even). Refuses NaN, values below zero (-0 is zero), infinities and
// 2^64 seconds or more.
std::optional<TimeoutDuration> timeout_duration(double timeout);

struct ChildExited {
  int status;  // the waitpid status word
};
struct TimeoutExpired {};
struct WaitError {
  int errnum;
};
using WaitOutcome = std::variant<ChildExited, TimeoutExpired, WaitError>;

// How long the pipes may stay open once the child has ended. A descendant that inherited
// them (`sh -c 'sleep 30 & echo hi'`) can hold them open for as long as it lives; after this
// grace each output pipe gives only what it holds at that moment and the rest of the stdin
// data is dropped. The result (or exit status) is the child's all the same. This bounds the
// wait for the pipes only: exec stream's forwarders may take longer to pass on what they
// have read when our standard output is slow to take it.
inline constexpr std::chrono::milliseconds kPipeDrainGrace{200};

// How long a child may take to end once a signal sent to us has been passed on to it; after
// that it is killed as on a timeout.
inline constexpr std::chrono::milliseconds kSignalGrace{1000};

// Waits for one started child on the calling thread: one poll over its pipes, its pidfd and
// the deadline, so no thread is needed for the pipes or the timer.
class ChildWatch {
 public:
  // The timeout counts from here, and the child is the running one (base/running_child.h)
  // from here. With a relay (held already), the signals it catches are seen during the wait.
  ChildWatch(ChildProcess& child, TimeoutDuration timeout, SignalRelay* relay = nullptr);
  ChildWatch(const ChildWatch&) = delete;
  ChildWatch& operator=(const ChildWatch&) = delete;

  // `data` goes to `pipe` as the child takes it, and the pipe is closed after the last byte,
  // so the child reads end of file; a child that takes no more (it exited or closed its
  // input) has the rest dropped. `data` must outlive wait().
  void feed(Fd pipe, std::string_view data);
  // What `pipe` delivers is appended to `into` until end of file; a read error ends it
  // silently. A buffer that cannot grow ends the process as out of memory.
  void capture(Fd pipe, base::InputBytes* into);

  // Looks at the child (first) and the deadline (second) whenever either may have an answer:
  // the child's end is seen as it happens, a timeout within a millisecond. On a timeout the
  // child is killed and reaped; on an exit it is reaped; after a failed wait it is left
  // alone. Then the pipes are served until they are done, for at most kPipeDrainGrace.
  // A signal the relay catches is passed on to the child (unless the kernel sent it, and so
  // to the child as well); the child then has kSignalGrace to end before it is killed, and the
  // wait returns as soon as it is gone, without serving the pipes further: the relay's
  // finish() then ends the process.
  WaitOutcome wait();

 private:
  struct Channel {
    Fd fd;
    std::string_view data;             // what is still to be fed
    base::InputBytes* into = nullptr;  // where captured bytes go; null for a feed
  };
  void serve(Channel& channel);
  void take_what_is_held();
  std::optional<WaitOutcome> look_at_child(bool timed_out);
  // Passes a caught signal on; true when the wait should end now (the child is gone).
  bool relay_signal(bool child_gone);

  ChildProcess& child_;
  std::optional<timespec> deadline_;  // none: too far to ever come
  SignalRelay* relay_;
  std::optional<timespec> signal_deadline_;  // the end of the grace after a signal
  std::vector<Channel> channels_;
};

// After a timeout: SIGKILL, close our stdin end if still held, blocking reap. Reports nothing.
// The child is no longer the running one (base/running_child.h) once reaped, nor after a wait
// for it fails.
void kill_and_reap(ChildProcess& child);

// The exit code of a normal exit, or none when the child was ended by a signal.
std::optional<int> exit_code(int status);

}  // namespace tovrel::exec
