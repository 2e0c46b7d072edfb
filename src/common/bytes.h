#pragma once
// Byte frames and bounds-checked access to them.
#include <cstddef>
#include <cstdint>
#include <vector>

using Frame = std::vector<uint8_t>;

// The byte at index i, or 0 when i lies outside the frame. Every read of a
// received or requested frame goes through this, so no byte sequence can make
// the program read outside a buffer.
inline uint8_t ByteAt(const Frame& f, long long i) {
  return (i >= 0 && static_cast<unsigned long long>(i) < f.size()) ? f[static_cast<size_t>(i)] : 0;
}
