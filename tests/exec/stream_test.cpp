// exec stream, end to end: passthrough, exit statuses, messages.

#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "gate.h"
#include "helpers.h"

namespace tovrel::exec::testing {
namespace {

std::vector<std::string> stream_sh(const std::string& script) {
  return {"exec", "stream", "--cmd", "sh", "--arg", "-c", "--arg", script};
}

// Where our standard error leads. Where it is not captured, nothing can be read back from it.
enum class Stderr { kCaptured, kFull, kReaderGone };

std::vector<std::string> with(std::vector<std::string> args,
                              std::initializer_list<const char*> extra) {
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

TEST(ExecStream, StatusesAndMessages) {
  const struct {
    const char* label;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    Stderr stderr_to = Stderr::kCaptured;
  } cases[] = {
      {"exit 0", stream_sh("echo hi"), 0, "hi\n", ""},
      {"exit N", stream_sh("echo out; echo err >&2; exit 3"), 3, "out\n", "err\n"},
      {"ended by SIGTERM", stream_sh("kill -TERM $$"), 1, "", ""},
      {"ended by SIGKILL", stream_sh("kill -KILL $$"), 1, "", ""},
      {"the child's own 124", stream_sh("exit 124"), 124, "", ""},
      {"timeout", with(stream_sh("echo before; exec sleep 30"), {"--timeout", "1"}), 124,
       "before\n", "Command timed out after 1 seconds\n"},
      {"timeout 0.5", with(stream_sh("exec sleep 30"), {"--timeout=0.5"}), 124, "",
       "Command timed out after 0.5 seconds\n"},
      {"missing program",
       {"exec", "stream", "--cmd", "/nonexistent/tool"},
       125,
       "",
       "Failed to spawn: No such file or directory (os error 2)\n"},
      {"refused timeout",
       {"exec", "stream", "--cmd", "true", "--timeout=-1"},
       125,
       "",
       "invalid timeout: -1: must be a finite number of seconds from 0 to "
       "18446744073709551615\n"},
      {"PYTHONUNBUFFERED forced",
       with(stream_sh("echo \"$PYTHONUNBUFFERED\""), {"--env", "PYTHONUNBUFFERED=0"}), 0, "1\n",
       ""},
      {"stdin data", {"exec", "stream", "--cmd", "cat", "--stdin", "fed"}, 0, "fed", ""},
      // Our own message that cannot be written is an internal failure; the child's output
      // that cannot be forwarded is not.
      {"spawn message to a full device",
       {"exec", "stream", "--cmd", "/nonexistent/tool"},
       101,
       "",
       "",
       Stderr::kFull},
      {"spawn message to a pipe without reader",
       {"exec", "stream", "--cmd", "/nonexistent/tool"},
       101,
       "",
       "",
       Stderr::kReaderGone},
      {"timeout message to a full device",
       with(stream_sh("echo before; exec sleep 30"), {"--timeout", "0.2"}), 101, "before\n", "",
       Stderr::kFull},
      {"timeout message to a pipe without reader",
       with(stream_sh("exec sleep 30"), {"--timeout", "0.2"}), 101, "", "", Stderr::kReaderGone},
      {"refused timeout to a full device",
       {"exec", "stream", "--cmd", "true", "--timeout=-1"},
       101,
       "",
       "",
       Stderr::kFull},
      {"the child's stderr to a full device", stream_sh("echo out; echo err >&2; exit 3"), 3,
       "out\n", "", Stderr::kFull},
      {"the child's stderr to a pipe without reader", stream_sh("echo out; echo err >&2; exit 3"),
       3, "out\n", "", Stderr::kReaderGone},
  };
  for (const auto& c : cases) {
    test::RunOptions o;
    if (c.stderr_to == Stderr::kFull) o.stderr_path = "/dev/full";
    o.stderr_reader_gone = c.stderr_to == Stderr::kReaderGone;
    const test::RunResult r = test::run(c.args, o);
    EXPECT_EQ(r.status, c.status) << c.label;
    EXPECT_EQ(r.out, c.out) << c.label;
    EXPECT_EQ(r.err, c.err) << c.label;
  }
}

TEST(ExecStream, BinaryPassthroughIsByteExact) {
  test::TempDir dir;
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 7 + i / 256) & 0xff);
  test::write_file(dir / "blob", bytes);
  const test::RunResult r = test::run({"exec", "stream", "--cmd", "sh", "--arg", "-c", "--arg",
                                       "cat \"$0\"; cat \"$0\" >&2", "--arg", dir / "blob"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == bytes) << "stdout differs, " << r.out.size() << " bytes";
  EXPECT_TRUE(r.err == bytes) << "stderr differs, " << r.err.size() << " bytes";
}

// Reads from `fd` until `want` bytes have come, end of file, or nothing came for `patience_ms`.
std::string read_some(int fd, std::size_t want, int patience_ms) {
  std::string seen;
  while (seen.size() < want) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, patience_ms) <= 0) break;
    char buf[64];
    const ssize_t n = read(fd, buf, std::min(sizeof buf, want - seen.size()));
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  return seen;
}

TEST(ExecStream, ChunksArriveBeforeTheChildEnds) {
  // The child prints a chunk without a line break, then waits at the gate, which opens only
  // after the chunk has been seen: output held back until the child ends never arrives.
  Gate gate;
  const AsyncRun run = start_exec_cli(with(
      stream_sh("printf first; read x < \"$0\"; printf second"), {"--arg", gate.path().c_str()}));
  ASSERT_EQ(read_some(run.stdout_fd, 5, 30000), "first");
  gate.open();
  EXPECT_EQ(read_some(run.stdout_fd, 6, 30000), "second");
  EXPECT_EQ(wait_exec_cli(run), 0);
}

TEST(ExecStream, ClosedStdoutStillDrainsAndKeepsTheStatus) {
  test::RunOptions o;
  o.stdout_reader_gone = true;
  const test::RunResult r =
      test::run(stream_sh("head -c 500000 /dev/zero; echo after >&2; exit 7"), o);
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.err, "after\n");
}

TEST(ExecStream, StartedWithStdoutClosed) {
  // Start-up puts the null device where descriptor 1 was closed.
  test::RunOptions o;
  o.close_stdout = true;
  const test::RunResult r = test::run(stream_sh("echo lost; echo kept >&2; exit 5"), o);
  EXPECT_EQ(r.status, 5);
  EXPECT_EQ(r.err, "kept\n");
}

TEST(ExecStream, LingeringGrandchildDoesNotHoldTheExit) {
  // The background cat holds the output pipes open until the gate opens, which happens only
  // once exec stream has exited.
  Gate gate;
  const test::RunResult r =
      test::run(with(stream_sh("cat \"$0\" & echo hi"), {"--arg", gate.path().c_str()}));
  ASSERT_EQ(r.out, "hi\n");  // so the cat has started, and will reach the gate
  gate.open();
  EXPECT_EQ(r.status, 0);
}

TEST(ExecStream, LargeStdinToAFilter) {
  std::string data;
  for (int i = 0; i < 40000; ++i) data += "row " + std::to_string(i) + "\n";
  test::RunOptions o;
  o.stdin_data = data;
  const test::RunResult r = test::run({"exec", "stream", "--cmd", "cat", "--stdin-pipe"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out == data) << r.out.size() << " bytes";
}

}  // namespace
}  // namespace tovrel::exec::testing
