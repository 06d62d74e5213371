#pragma once
// The text of an operating-system error: its strerror text, " (os error N)".

#include <string>

namespace tovrel::base {

std::string os_error_text(int errnum);

// Prefix ": " cause, the shape of every error that has an underlying cause.
std::string with_cause(std::string_view step, std::string_view cause);

}  // namespace tovrel::base
