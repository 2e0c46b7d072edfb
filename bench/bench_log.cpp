// Appending an entry to a full log must cost the same however many entries
// were written before: the pane keeps 1000 entries and trims the oldest
// entry, not the whole text. Prints the cost per entry once 1,000 and once
// 100,000 entries have been written, and their ratio.
#include <chrono>
#include <cstdio>

#include "fakes/fake_platform.h"
#include "panel/frmMain.h"

namespace {

Frame SampleFrame(int i) {
  Frame f;
  for (int k = 0; k < 25; ++k) f.push_back(static_cast<uint8_t>(i + k));  // two rows
  return f;
}

// Nanoseconds per entry for `measured` appends after `written` entries.
double CostAfter(long written, long measured) {
  fakes::FakePlatform fp;
  frmMain f(fp.Bundle());
  f.Form_Load();
  for (long i = 0; i < written; ++i) f.LogRequest(SampleFrame(static_cast<int>(i)));
  const auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < measured; ++i) {
    f.LogResponse(SampleFrame(static_cast<int>(i)));
    f.LogError("Protocol Error", "Bad Checksum (expected 00 00)", false, 2, 23);
  }
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(2 * measured);
}

}  // namespace

int main() {
  const long measured = 20000;
  CostAfter(1000, 2000);  // warm up caches and the allocator
  const double at1k = CostAfter(1000, measured);
  const double at100k = CostAfter(100000, measured);
  std::printf("log append, full pane: %.0f ns/entry after 1,000 entries, %.0f ns/entry after 100,000 entries\n", at1k,
              at100k);
  std::printf("ratio (100,000 / 1,000): %.2f\n", at100k / at1k);
  return 0;
}
