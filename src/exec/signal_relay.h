#pragma once
// TERM, INT and HUP sent to us while we run a child (exec run, exec stream): caught from
// before the child starts, so that none can end us and leave it running; handed to the wait
// for the child (ChildWatch), which passes each on and gives the child kSignalGrace to end;
// and, once the child is gone, the end of this process by the first of them, as their default
// action would have ended it. A signal that was ignored when we started stays ignored.

#include <signal.h>

#include <optional>

namespace tovrel::exec {

// A signal caught since the last look.
struct CaughtSignal {
  int sig;
  bool from_kernel;  // sent by the kernel (a terminal's INT or HUP), which the child got too
};

// One at a time per process: the handlers are process-wide.
class SignalRelay {
 public:
  // Catches the signals from here on.
  SignalRelay();
  // Gives the signals back as they were, if finish() has not.
  ~SignalRelay();
  SignalRelay(const SignalRelay&) = delete;
  SignalRelay& operator=(const SignalRelay&) = delete;

  // Holds the signals back on the calling thread, and on the threads it starts from here on,
  // except in a wait that lets them in (waiting_mask). Call it once the child has started: the
  // child starts with the signal mask it finds.
  void hold();
  // The signal mask for a ppoll that lets the signals in; null before hold().
  const sigset_t* waiting_mask() const { return held_ ? &before_ : nullptr; }

  // The signal caught since the last call, if any. Of several caught between two calls, the
  // first.
  std::optional<CaughtSignal> take();
  // The first signal ever taken.
  std::optional<int> first() const { return first_; }

  // Gives the signals back as they were; then a signal caught (taken or not) ends the process
  // by that signal. Call it once the child is gone.
  void finish();

 private:
  void restore();

  struct sigaction previous_[3];
  bool caught_[3] = {false, false, false};  // a handler of ours was installed
  sigset_t before_;                         // the mask before hold()
  bool held_ = false;
  bool restored_ = false;
  std::optional<int> first_;
};

}  // namespace tovrel::exec
