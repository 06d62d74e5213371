#include "exec/supervise.h"


#include <memory>

#include "base/sys.h"

namespace tovrel::exec {

void write_child_stdin(ChildProcess& child, std::optional<std::string> data, IoThreads& io) {
  if (!data) return;
  Fd pipe = std::move(child.stdin_pipe);
  if (!pipe.valid()) return;
  (void)base::set_nonblocking(pipe.get());
  const std::size_t written = write_nonblocking(pipe.get(), *data);
  if (written >= data->size()) return;  // closing `pipe` gives the child end of file
  auto rest = std::make_shared<std::string>(data->substr(written));
  auto owned = std::make_shared<Fd>(std::move(pipe));
  io.start([rest, owned](const StopEvent& stop) { feed_pipe(std::move(*owned), *rest, stop); });
}

WaitOutcome supervise(ChildProcess& child, TimeoutDuration duration) {
  TimeoutChannel channel = timeout_channel();
  std::thread timer = start_thread(
      [sender = std::make_shared<TimeoutSender>(std::move(channel.sender)), duration]() mutable {
        timeout_timer(std::move(*sender), duration);
        sender.reset();
      });
  WaitOutcome outcome = wait_with_timeout(child, channel.receiver);
  if (std::holds_alternative<TimeoutExpired>(outcome)) kill_and_reap(child);
  timer.detach();
  return outcome;
}

}  // namespace tovrel::exec
