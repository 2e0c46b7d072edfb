#pragma once
// Small shared helpers: trimming, empty-aware bounds, fixed-width number
// text, the time of day and the log's time stamp, and a responsive wait.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/local_time.h"

// Removes from both ends every character that occurs in `characters`.
std::string TrimChars(std::string_view text, std::string_view characters);
// Trims blanks, carriage returns and line feeds from both ends.
std::string TrimBlank(std::string_view value);
// True when a and b are equal but for the case of the letters A..Z.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// Removes leading and trailing occurrences of `token` (and of `token2` when
// given), repeatedly, until neither stands at either end.
std::string TrimToken(std::string_view text, std::string_view token, std::string_view token2 = {});

// Upper and lower index bound of a container; -1 when it has no elements.
template <class C>
int32_t SafeUBound(const C& c) {
  return c.empty() ? -1 : static_cast<int32_t>(c.size()) - 1;
}
template <class C>
int32_t SafeLBound(const C& c) {
  return c.empty() ? -1 : 0;
}

// Milliseconds since local midnight, 0..86,399,999.
int32_t GetDayMilliseconds(const LocalTime& t);

// Fixed-width number text. Decimal: the last `digits` characters of the
// decimal text of value + 1,000,000,000. Hexadecimal: "0x" and the last
// `digits` characters of the upper-case hex text of value + 0x10000000.
std::string PadNumber(int32_t value, int16_t digits, bool hexadecimal);
// The text with blanks appended up to `width` characters.
std::string PadRight(std::string_view text, int16_t width);

// "dd.mm.yy  hh:mm:ss.mmm", exactly 22 characters.
std::string FormatTimeStamp(const LocalTime& t);

// Waits about `seconds`, in steps of `stepMs`, letting pending events run after
// every step, until the time has passed or `stop` is set. `nowMs` reads a
// monotonic clock; `sleepMs` sleeps; `pump` lets pending events run.
void WaitWithEvents(double seconds, const bool& stop, int stepMs, const std::function<int64_t()>& nowMs,
                    const std::function<void(int)>& sleepMs, const std::function<void()>& pump);
