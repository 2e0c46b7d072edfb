// Answers to 43/14 are appended in runs while the bytes held cannot tell their length: generated answers (a fixed
// seed, a bounded count) come out as when every byte goes through the checks alone, and a sound one completes on
// its last byte.
#include <random>

#include "test_bytes.h"

namespace {

using namespace testbytes;

// The answer cut into chunks of 1..max bytes.
std::vector<Frame> Chunks(const Frame& answer, std::mt19937& rng, size_t max) {
  std::vector<Frame> chunks;
  for (size_t at = 0, n; at < answer.size(); at += n) {
    n = std::min<size_t>(answer.size() - at, 1 + rng() % max);
    chunks.emplace_back(answer.begin() + long(at), answer.begin() + long(at + n));
  }
  return chunks;
}

TEST(AssemblyInRuns, DeviceIdentificationAnswersWalkedOnceGiveWhatTheyGiveByteByByte) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    // Slave, 2B 0E, read code, conformity, more follows, next id, the objects (empty values too: then the length
    // byte completes the answer); now and then a byte changed or the answer cut short.
    Frame answer = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, static_cast<uint8_t>(rng() % 6)};
    for (uint8_t id = 0; id < answer[7]; ++id) {
      const auto length = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 256 : rng() % 3 == 0 ? 0 : rng() % 30);
      answer.insert(answer.end(), {id, length});
      for (int k = 0; k < length; ++k) answer.push_back(static_cast<uint8_t>('A' + rng() % 26));
    }
    answer = WithCrc(answer);
    const bool damaged = rng() % 3 == 0, tcp = round % 2 == 1;
    if (damaged && rng() % 2 == 0) answer[rng() % answer.size()] = static_cast<uint8_t>(rng());
    if (damaged && rng() % 2 == 0) answer.resize(rng() % answer.size());
    Frame request = WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00});
    if (tcp) {  // the MBAP header in place of the CRC, its length as the answer gives it
      request = {0x00, 0x07, 0x00, 0x00, 0x00, 0x05, 0x01, 0x2B, 0x0E, 0x01, 0x00};
      answer.resize(answer.size() < 2 ? 0 : answer.size() - 2);
      const auto n = static_cast<uint16_t>(answer.size());
      answer.insert(answer.begin(), {0x00, 0x07, 0x00, 0x00, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    const Frame sound = answer;  // a whole and sound answer completes with its last byte, whatever follows it
    if (rng() % 2 == 0) answer.insert(answer.end(), rng() % 40, 0x55);
    const modbus::Mode mode = tcp ? modbus::Mode::Tcp : modbus::Mode::Rtu;
    SCOPED_TRACE(Hex(answer));
    AssembleBothWays(mode, request, Chunks(answer, rng, 1 + rng() % 80));
    const Outcome got = Assemble(mode, request, Chunks(answer, rng, 1 + rng() % 80));
    EXPECT_TRUE(damaged || (got.complete && got.received == sound && got.faults.empty()));
  }
}

}  // namespace
