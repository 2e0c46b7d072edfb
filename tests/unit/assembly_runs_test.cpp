// Answers taken in runs (a chunk's characters or bytes appended at once where they cannot settle anything) must
// come out exactly as when every byte goes through on its own: the same frame, faults in the same order and the
// same exception. Generated answers (a fixed seed, a bounded count) in the ASCII framings and answers to 43/14,
// whose length is only known once their objects are walked.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "modbus/ascii_framing.h"
#include "modbus/response.h"
#include "test_bytes.h"

namespace modbus {
namespace {

using namespace std::string_literals;

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

TEST(AssemblyInRuns, AsciiCharactersGiveWhatTheyGiveOneByOne) {
  // Characters drawn mostly from frame material, with every kind of damage mixed in: lower case, characters that
  // are no digit, ':' restarting, CR and LF alone, bytes above 0x7F.
  const std::string material = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEFabcfG Zx\x00\x7F\x80\xFF:::\r\r\n\n"s;
  std::mt19937 rng(1234);
  const Frame read = [] {
    const std::string chars = EncodeAscii(Frame{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03});
    return Frame(chars.begin(), chars.end());
  }();
  for (int round = 0; round < 400; ++round) {
    Frame answer;
    // Mostly a good frame with noise around and inside it, now and then noise only, now and then a long one.
    const size_t length = round % 10 == 0 ? 700 + rng() % 600 : rng() % 90;
    if (round % 3 != 0) {
      const std::string good = EncodeAscii(Frame{0x11, 0x03, 0x06, 0x02, 0x2B, 0x00, 0x00, 0x00, 0x64});
      answer.assign(good.begin(), good.end());
    }
    for (size_t i = 0; i < length; ++i) {
      const auto at = static_cast<std::ptrdiff_t>(answer.empty() ? 0 : rng() % (answer.size() + 1));
      answer.insert(answer.begin() + at, static_cast<uint8_t>(material[rng() % material.size()]));
    }
    const Mode mode = round % 2 == 0 ? Mode::Ascii : Mode::AsciiOverTcp;
    ExpectSameEitherWay(mode, round % 5 == 0 ? answer : read, answer, rng);
  }
  // Frames past the 255-byte bound, digits of any count, chunk edges at any place (a half byte pending at a run's
  // start included).
  for (int round = 0; round < 60; ++round) {
    const std::string chars = ":" + std::string(505 + round % 10, 'A') + "\r\n";
    ExpectSameEitherWay(Mode::Ascii, read, Frame(chars.begin(), chars.end()), rng);
  }
}

TEST(AssemblyInRuns, DecoderFramesAreTheSameFromRunsAndFromSingleCharacters) {
  const std::string material = "0123456789ABCDEF0123456789ABCDEFbeG\x01\xC3:\r\n"s;
  std::mt19937 rng(99);
  for (int round = 0; round < 300; ++round) {
    std::string chars;
    for (size_t i = 0, n = round % 7 == 0 ? 900 : rng() % 120; i < n; ++i) chars += material[rng() % material.size()];
    AsciiDecoder runs, single;
    const std::vector<AsciiFrame> fromRuns = runs.Feed(chars);
    std::vector<AsciiFrame> fromSingle;
    for (char c : chars)
      if (std::optional<AsciiFrame> f = single.Push(c)) fromSingle.push_back(std::move(*f));
    ASSERT_EQ(fromRuns.size(), fromSingle.size()) << chars;
    for (size_t i = 0; i < fromRuns.size(); ++i) {
      EXPECT_EQ(fromRuns[i].adu, fromSingle[i].adu) << chars;
      EXPECT_EQ(fromRuns[i].faults, fromSingle[i].faults) << chars;
    }
    EXPECT_EQ(runs.InFrame(), single.InFrame()) << chars;
  }
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
