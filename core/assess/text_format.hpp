// The number formats shared by the load judgement and the health score, so
// that a figure reads the same in every sentence: percents rounded half away
// from zero, one-decimal figures, and whole numbers cut from doubles. None of
// them ever prints "nan" or "inf": a non-finite figure is shown as 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/measure/system_metrics.hpp"

namespace norvo::text_format {

// The value itself when finite, else 0: the one rule every reader of the
// metrics applies to figures that cannot have been measured.
double finiteOrZero(double value);

// Truncated toward zero, clamped to the int64 range; non-finite gives 0.
int64_t truncated(double value);

// Rounded half away from zero, clamped to the int64 range; non-finite gives 0.
int64_t rounded(double value);

// fraction × 100 rounded half away from zero, followed by "%" (0.874 → "87%").
std::string percent(double fraction);

// One decimal, as printf's "%.1f" writes it; non-finite gives "0.0".
std::string oneDecimal(double value);

// The free space of the boot volume in GB (2^30 bytes): 0 when there is no
// volume, and never below 0.
double freeGigabytes(const SystemMetrics& metrics);

// `text` safe to print on a terminal: C0 and C1 control characters (escape
// sequences among them) become "?", as ps(1) shows them. Process names and
// agents' texts are anyone's to choose; they must not drive the owner's
// terminal.
std::string printable(std::string_view text);

}  // namespace norvo::text_format
