// exec run: one child to its end under a timeout, both output streams captured.

#include "exec/run.h"

#include <time.h>

#include "base/clock.h"
#include "base/os_error.h"
#include "base/output.h"
#include "base/utf8.h"
#include "exec/child_run.h"
#include "exec/messages.h"
#include "exec/operations.h"
#include "exec/signal_relay.h"
#include "exec/wait.h"
#include "json/writer.h"

namespace tovrel::exec {

namespace {

// The line goes out in pieces of about this size; ill-formed text is decoded in segments of
// it, so that neither the line nor the decoded text is ever held whole.
constexpr std::size_t kPieceSize = 64 * 1024;

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Where to end a segment of at most `limit` (>= 4) bytes: at the start of a decoding unit (a
// well-formed character or a maximal ill-formed subpart), so that each segment decodes as it
// would within the whole. A unit takes continuation bytes only after its first byte, so every
// other byte starts one, and a unit is at most four bytes long: the unit that holds bytes[limit]
// starts at the last byte before it, at most three back, that is no continuation byte, if that
// unit reaches so far; otherwise bytes[limit] is a stray that stands alone.
std::size_t segment_end(std::string_view bytes, std::size_t limit) {
  if (bytes.size() <= limit) return bytes.size();
  std::size_t lead = limit;
  while (lead > limit - 3 && is_continuation(bytes[lead])) --lead;
  if (lead == limit || is_continuation(bytes[lead])) return limit;
  std::size_t maximal = 1;
  std::size_t length = base::utf8_sequence_length(bytes.substr(lead), &maximal);
  if (length == 0) length = maximal;
  return lead + length > limit ? lead : limit;
}

// The result line, gathered into pieces for the sink.
class ResultLine {
 public:
  explicit ResultLine(const LineSink& sink) : sink_(sink) { line_.reserve(kPieceSize * 2); }

  void raw(std::string_view text) {
    line_ += text;
    if (line_.size() >= kPieceSize) flush();
  }
  void flush() {
    if (!line_.empty()) sink_(line_);
    line_.clear();
  }
  // `"name":`, after a comma unless it is the first member.
  void key(std::string_view name) {
    raw(first_ ? "{" : ",");
    first_ = false;
    quoted_.clear();
    json::write_compact_string(name, quoted_);
    raw(quoted_);
    raw(":");
  }
  // The characters of `text` (valid UTF-8) as the compact writer escapes them, without the
  // quotes around them. A large text goes to the sink as it is, not copied into the line.
  void escaped(std::string_view text) {
    if (text.empty()) return;
    quoted_.clear();
    json::write_compact_string(text, quoted_);
    const std::string_view inner = std::string_view(quoted_).substr(1, quoted_.size() - 2);
    if (inner.size() < kPieceSize / 16) return raw(inner);
    flush();
    sink_(inner);
  }
  // `bytes` decoded lossily (U+FFFD for each maximal ill-formed subpart) and escaped, a
  // segment at a time: only a segment that is not UTF-8 is copied, to be decoded.
  void lossy(std::string_view bytes) {
    while (!bytes.empty()) {
      const std::string_view segment = bytes.substr(0, segment_end(bytes, kPieceSize));
      bytes.remove_prefix(segment.size());
      if (base::is_valid_utf8(segment)) {
        escaped(segment);
      } else {
        escaped(base::utf8_lossy(segment));
      }
    }
  }

 private:
  const LineSink& sink_;
  std::string line_;
  std::string quoted_;
  bool first_ = true;
};

}  // namespace

RunReport run_child(const ChildArgs& args, std::optional<std::string_view> stdin_data,
                    base::InputBytes& out, base::InputBytes& err) {
  const timespec start = base::monotonic_now();
  RunReport report;
  // Refused before anything starts: no child is left to a timeout that cannot be kept.
  const std::optional<TimeoutDuration> duration = timeout_duration(args.timeout);
  if (!duration) {
    report.message = invalid_timeout_message(args.timeout);
    report.duration_ms = base::elapsed_ms(start, base::monotonic_now());
    return report;
  }
  ProcessCommand command = child_command(args, stdin_data.has_value());
  SignalRelay relay;
  auto spawned = command_spawn(command);
  if (const auto* error = std::get_if<SpawnError>(&spawned)) {
    relay.finish();
    report.message = spawn_failure_text(error->errnum);
    report.duration_ms = base::elapsed_ms(start, base::monotonic_now());
    return report;
  }
  ChildProcess& child = std::get<ChildProcess>(spawned);
  relay.hold();

  ChildWatch watch(child, *duration, &relay);
  watch.capture(std::move(child.stdout_pipe), &out);
  watch.capture(std::move(child.stderr_pipe), &err);
  if (stdin_data) watch.feed(std::move(child.stdin_pipe), *stdin_data);
  const WaitOutcome outcome = watch.wait();
  relay.finish();

  if (const auto* exited = std::get_if<ChildExited>(&outcome)) {
    const std::optional<int> code = exit_code(exited->status);
    report.return_code = code.value_or(-1);
    report.success = code == 0;
    report.stderr_bytes = err.view();
    report.stdout_bytes = out.view();
  } else if (std::holds_alternative<TimeoutExpired>(outcome)) {
    report.message = timed_out_text(args.timeout);
    report.stderr_bytes = err.view();
    report.stdout_bytes = out.view();
  } else {
    report.message = wait_failure_text(std::get<WaitError>(outcome).errnum);
  }
  // Read last, after the wait and the drain of the pipes; the line is then made as it is
  // written, since its text follows the duration.
  report.duration_ms = base::elapsed_ms(start, base::monotonic_now());
  return report;
}

void write_run_result(const RunReport& report, const LineSink& sink) {
  ResultLine line(sink);
  line.key("duration_ms");
  std::string number;
  json::write_number_text(report.duration_ms, number);
  line.raw(number);
  line.key("return_code");
  line.raw(std::to_string(report.return_code));
  line.key("stderr");
  line.raw("\"");
  line.escaped(report.message);
  line.lossy(report.stderr_bytes);
  line.raw("\"");
  line.key("stdout");
  line.raw("\"");
  line.lossy(report.stdout_bytes);
  line.raw("\"");
  line.key("success");
  line.raw(report.success ? "true" : "false");
  line.raw("}\n");
  line.flush();
}

void run_command(const ChildArgs& args, std::optional<std::string_view> stdin_data) {
  base::InputBytes out;
  base::InputBytes err;
  const RunReport report = run_child(args, stdin_data, out, err);
  base::LineWriter& writer = base::stdout_writer();
  write_run_result(report, [&writer](std::string_view piece) {
    if (auto failure = writer.write(piece)) {
      base::printing_failed(*failure);
    }
  });
  base::exit_process(0);
}

}  // namespace tovrel::exec
