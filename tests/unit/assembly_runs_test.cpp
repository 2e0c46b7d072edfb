// Answers to 43/14, whose length is only known once their objects are walked, are appended in runs where the
// bytes held cannot tell the length yet: they must come out exactly as when every byte goes through the checks on
// its own (the same frame, faults in the same order, the same exception), and a sound one completes on its last
// byte. Generated answers, a fixed seed and a bounded count.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "modbus/response.h"
#include "test_bytes.h"

namespace modbus {
namespace {

struct Outcome {
  bool complete = false;
  Frame received, answer;
  std::vector<Fault> faults;
  std::optional<uint8_t> exception;
};

// The chunks fed whole (FeedChunk) or byte by byte (Feed, each byte told its chunk's size).
Outcome Feed(Mode mode, const Frame& request, const std::vector<Frame>& chunks, bool whole) {
  ResponseAssembler a(mode, request);
  for (const Frame& chunk : chunks) {
    if (whole) {
      a.FeedChunk(chunk);
    } else {
      for (uint8_t b : chunk) a.Feed(b, static_cast<int32_t>(chunk.size()));
    }
  }
  return {a.Complete(), a.Received(), a.Answer(), a.Faults(), a.Exception()};
}

// The answer cut into chunks of 1..max bytes.
std::vector<Frame> Chunks(const Frame& answer, std::mt19937& rng, size_t max) {
  std::vector<Frame> chunks;
  for (size_t at = 0; at < answer.size();) {
    const size_t n = std::min<size_t>(answer.size() - at, 1 + rng() % max);
    chunks.emplace_back(answer.begin() + static_cast<std::ptrdiff_t>(at),
                        answer.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  }
  return chunks;
}

void ExpectSameEitherWay(Mode mode, const Frame& request, const Frame& answer, std::mt19937& rng) {
  const std::vector<Frame> chunks = Chunks(answer, rng, 1 + rng() % 80);
  const Outcome runs = Feed(mode, request, chunks, true), bytes = Feed(mode, request, chunks, false);
  const std::string what = "mode " + std::to_string(static_cast<int>(mode)) + ", answer " + testbytes::Hex(answer);
  EXPECT_EQ(runs.complete, bytes.complete) << what;
  EXPECT_EQ(runs.received, bytes.received) << what;
  EXPECT_EQ(runs.answer, bytes.answer) << what;
  EXPECT_EQ(runs.faults, bytes.faults) << what;
  EXPECT_EQ(runs.exception, bytes.exception) << what;
}

TEST(AssemblyInRuns, DeviceIdentificationAnswersWalkedOnceGiveWhatTheyGiveByteByByte) {
  std::mt19937 rng(7);
  const Frame pdu = {0x01, 0x2B, 0x0E, 0x01, 0x00};
  for (int round = 0; round < 300; ++round) {
    // Slave, 2B 0E, read code, conformity, more follows, next id, the objects; now and then a byte changed, cut
    // short or lengthened.
    Frame answer = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00};
    const auto objects = static_cast<uint8_t>(rng() % 6);
    answer.push_back(objects);
    for (uint8_t id = 0; id < objects; ++id) {
      // Empty values too: then the length byte completes the answer.
      const auto length = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 256 : rng() % 3 == 0 ? 0 : rng() % 30);
      answer.push_back(id);
      answer.push_back(length);
      for (int k = 0; k < length; ++k) answer.push_back(static_cast<uint8_t>('A' + rng() % 26));
    }
    answer = testbytes::WithCrc(answer);
    const bool damaged = rng() % 3 == 0;
    if (damaged && rng() % 2 == 0) answer[rng() % answer.size()] = static_cast<uint8_t>(rng());
    if (damaged && rng() % 2 == 0) answer.resize(rng() % answer.size());
    const bool tcp = round % 2 == 1;
    Frame request = tcp ? Frame{0x00, 0x07, 0x00, 0x00, 0x00, 0x05} : Frame{};
    request.insert(request.end(), pdu.begin(), pdu.end());
    if (tcp) {
      // The MBAP header in place of the CRC, its length as the answer gives it.
      answer.resize(answer.size() < 2 ? 0 : answer.size() - 2);
      const auto n = static_cast<uint16_t>(answer.size());
      answer.insert(answer.begin(), {0x00, 0x07, 0x00, 0x00, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    } else {
      request = testbytes::WithCrc(request);
    }
    // An answer whole and sound completes with its last byte, whatever follows it.
    const Frame sound = answer;
    if (rng() % 2 == 0) answer.insert(answer.end(), rng() % 40, 0x55);
    const Mode mode = tcp ? Mode::Tcp : Mode::Rtu;
    ExpectSameEitherWay(mode, request, answer, rng);
    if (!damaged) {
      const Outcome got = Feed(mode, request, Chunks(answer, rng, 1 + rng() % 80), true);
      EXPECT_TRUE(got.complete) << testbytes::Hex(answer);
      EXPECT_EQ(got.received, sound) << testbytes::Hex(answer);
      EXPECT_TRUE(got.faults.empty()) << testbytes::Hex(answer);
    }
  }
}

}  // namespace
}  // namespace modbus
