#include "exec/messages.h"

#include "base/decimal.h"
#include "base/os_error.h"

namespace tovrel::exec {

std::string timed_out_text(double timeout) {
  std::string text(kTimedOutBefore);
  text += base::decimal_text(timeout);
  text += kTimedOutAfter;
  return text;
}

std::string spawn_failure_text(int errnum) {
  return base::with_cause(kFailedToSpawn, base::os_error_text(errnum));
}

std::string wait_failure_text(int errnum) {
  return base::with_cause(kWaitFailed, base::os_error_text(errnum));
}

std::string invalid_timeout_message(double timeout) {
  return base::with_cause(base::with_cause(kInvalidTimeout, base::decimal_text(timeout)),
                          kInvalidTimeoutRule);
}

}  // namespace tovrel::exec
