#pragma once
// Waiting for a child under a timeout: the conversion of the timeout to a duration, the timer
// thread and its one-message channel, the polling loop, and the kill after a timeout.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

#include "exec/process.h"

namespace tovrel::exec {

struct TimeoutDuration {
  std::uint64_t seconds = 0;
  std::uint32_t nanos = 0;  // 0..999999999
  bool operator==(const TimeoutDuration&) const = default;
};

// The duration of `timeout` seconds, from the double's exact value, the nanoseconds rounded
// to nearest (ties to even). Refuses NaN, values below zero (-0 is zero), infinities and
// 2^64 seconds or more.
std::optional<TimeoutDuration> timeout_duration(double timeout);

// The text of a refused timeout: "invalid timeout: {decimal}: must be ...".
std::string invalid_timeout_message(double timeout);

// The one-message channel between the timer thread and the waiting thread. Sending never
// blocks; receiving never blocks. A message sent before the sender went away is still seen.
namespace channel_detail {
struct State {
  std::atomic<bool> message{false};
  std::atomic<bool> sender_alive{true};
};
}  // namespace channel_detail

class TimeoutSender {
 public:
  explicit TimeoutSender(std::shared_ptr<channel_detail::State> state) : state_(std::move(state)) {}
  TimeoutSender(TimeoutSender&&) = default;
  TimeoutSender& operator=(TimeoutSender&&) = delete;
  ~TimeoutSender();
  void send();

 private:
  std::shared_ptr<channel_detail::State> state_;
};

enum class Receive { kMessage, kEmpty, kDisconnected };

class TimeoutReceiver {
 public:
  explicit TimeoutReceiver(std::shared_ptr<channel_detail::State> state)
      : state_(std::move(state)) {}
  Receive try_receive();

 private:
  std::shared_ptr<channel_detail::State> state_;
};

struct TimeoutChannel {
  TimeoutSender sender;
  TimeoutReceiver receiver;
};
TimeoutChannel timeout_channel();

// The timer thread's body: sleeps for `duration` (not at all when zero), then sends.
void timeout_timer(TimeoutSender sender, TimeoutDuration duration);

struct ChildExited {
  int status;  // the waitpid status word
};
struct TimeoutExpired {};
struct WaitError {
  int errnum;
};
using WaitOutcome = std::variant<ChildExited, TimeoutExpired, WaitError>;

// Polls the child (first) and the channel (second) until one of them answers; between
// passes it pauses at most 10 ms, and less when the child exits meanwhile (it waits on a
// pidfd of the child where the system has them). On ChildExited the child is reaped.
WaitOutcome wait_with_timeout(ChildProcess& child, TimeoutReceiver& receiver);

// After a timeout: SIGKILL, close our stdin end if still held, blocking reap. Reports nothing.
void kill_and_reap(ChildProcess& child);

// The exit code of a normal exit, or none when the child was ended by a signal.
std::optional<int> exit_code(int status);

}  // namespace tovrel::exec
