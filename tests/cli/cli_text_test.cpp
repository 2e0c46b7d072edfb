// Fixed-width numbers (addresses, time stamps): the number text against a
// formatted print of the same rule, over edge and pseudo-random values.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "common/module1.h"

namespace {

// The rule PadNumber documents, written with a formatted print.
std::string Reference(int32_t value, int16_t digits, bool hexadecimal) {
  char buf[32];
  if (hexadecimal)
    std::snprintf(buf, sizeof buf, "%llX",
                  static_cast<unsigned long long>(static_cast<long long>(value) + 0x10000000LL) & 0xFFFFFFFFFFULL);
  else
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value) + 1000000000LL);
  std::string s(buf);
  const size_t keep = digits < 0 ? 0 : static_cast<size_t>(digits);
  if (s.size() > keep) s = s.substr(s.size() - keep);
  return hexadecimal ? "0x" + s : s;
}

TEST(CliText, PadNumberFollowsItsRule) {
  const struct {
    int32_t value;
    int16_t digits;
    bool hex;
    const char* text;
  } rows[] = {
      {0, 5, false, "00000"},    {42, 2, false, "42"},
      {1234, 2, false, "34"},    {7, 3, false, "007"},
      {-1, 5, false, "99999"},   {0, 12, false, "1000000000"},
      {0xAB, 4, true, "0x00AB"}, {0xFFFF, 4, true, "0xFFFF"},
      {-1, 4, true, "0xFFFF"},   {INT32_MIN, 11, false, "-1147483648"},
      {5, 0, false, ""},         {5, -3, true, "0x"},
  };
  for (const auto& r : rows) EXPECT_EQ(PadNumber(r.value, r.digits, r.hex), r.text) << r.value << " " << r.digits;

  const int32_t edges[] = {INT32_MIN, -1000000001, -1000000000, -999999999, -268435457, -268435456,
                           -1,        0,           1,           9999,       10000,      65535,
                           65536,     0x0FFFFFFF,  0x10000000,  999999999,  1000000000, INT32_MAX};
  uint32_t seed = 12345;
  for (int i = 0; i < 4000; ++i) {
    seed = seed * 1664525u + 1013904223u;  // a fixed pseudo-random walk over the whole range
    const int32_t value = i < static_cast<int>(std::size(edges)) ? edges[i] : static_cast<int32_t>(seed);
    for (int16_t digits = -1; digits <= 12; ++digits)
      for (const bool hex : {false, true})
        ASSERT_EQ(PadNumber(value, digits, hex), Reference(value, digits, hex)) << value << " " << digits << " " << hex;
  }
}

}  // namespace
