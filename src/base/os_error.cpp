#include "base/os_error.h"

#include <string.h>

namespace tovrel::base {

std::string os_error_text(int errnum) {
  char buf[256];
  // GNU strerror_r: returns a pointer to the text, which may or may not be buf.
  const char* text = strerror_r(errnum, buf, sizeof buf);
  std::string out = text;
  out += " (os error ";
  out += std::to_string(errnum);
  out += ")";
  return out;
}

std::string with_cause(std::string_view step, std::string_view cause) {
  std::string out;
  out.reserve(step.size() + 2 + cause.size());
  out += step;
  out += ": ";
  out += cause;
  return out;
}

}  // namespace tovrel::base
