// Answers taken in runs (a chunk's characters or bytes appended at once where they cannot settle anything) must
// come out exactly as when every byte goes through on its own: the same frame, faults in the same order and the
// same exception. Generated answers (a fixed seed, a bounded count) in the ASCII framings and answers to 43/14,
// whose length is only known once their objects are walked.
#include <algorithm>
#include <random>

#include "modbus/ascii_framing.h"
#include "modbus/pdu_ext.h"
#include "test_bytes.h"

namespace {

using namespace std::string_literals;
using namespace testbytes;
using modbus::Mode;

// The answer cut into chunks of 1..max bytes.
std::vector<Frame> Chunks(const Frame& answer, std::mt19937& rng, size_t max) {
  std::vector<Frame> chunks;
  for (size_t at = 0, n; at < answer.size(); at += n) {
    n = std::min<size_t>(answer.size() - at, 1 + rng() % max);
    chunks.emplace_back(answer.begin() + long(at), answer.begin() + long(at + n));
  }
  return chunks;
}

Frame Chars(const std::string& s) { return Frame(s.begin(), s.end()); }

TEST(AssemblyInRuns, AsciiCharactersGiveWhatTheyGiveOneByOne) {
  // Characters drawn mostly from frame material, with every kind of damage mixed in: lower case, characters that
  // are no digit, ':' restarting, CR and LF alone, bytes above 0x7F.
  const std::string material = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEFabcfG Zx\x00\x7F\x80\xFF:::\r\r\n\n"s;
  std::mt19937 rng(1234);
  const Frame read = Chars(modbus::EncodeAscii(Frame{0x11, 0x03, 0x00, 0x6B, 0x00, 0x03}));
  for (int round = 0; round < 400; ++round) {
    // Mostly a good frame with noise around and inside it, now and then noise only, now and then a long one.
    Frame answer;
    const size_t length = round % 10 == 0 ? 700 + rng() % 600 : rng() % 90;
    if (round % 3 != 0)
      answer = Chars(modbus::EncodeAscii(Frame{0x11, 0x03, 0x06, 0x02, 0x2B, 0x00, 0x00, 0x00, 0x64}));
    for (size_t i = 0; i < length; ++i) {
      const auto at = static_cast<std::ptrdiff_t>(answer.empty() ? 0 : rng() % (answer.size() + 1));
      answer.insert(answer.begin() + at, static_cast<uint8_t>(material[rng() % material.size()]));
    }
    SCOPED_TRACE(Hex(answer));
    AssembleBothWays(round % 2 == 0 ? Mode::Ascii : Mode::AsciiOverTcp, round % 5 == 0 ? answer : read,
                     Chunks(answer, rng, 1 + rng() % 80));
  }
  // Frames past the 255-byte bound, digits of any count, chunk edges at any place (a half byte pending at a run's
  // start included).
  for (int round = 0; round < 60; ++round) {
    const Frame answer = Chars(":" + std::string(505 + round % 10, 'A') + "\r\n");
    AssembleBothWays(Mode::Ascii, read, Chunks(answer, rng, 1 + rng() % 80));
  }
}

TEST(AssemblyInRuns, DecoderFramesAreTheSameFromRunsAndFromSingleCharacters) {
  const std::string material = "0123456789ABCDEF0123456789ABCDEFbeG\x01\xC3:\r\n"s;
  std::mt19937 rng(99);
  // The frames' ADUs and faults, then whether a frame is open.
  const auto text = [](const std::vector<modbus::AsciiFrame>& frames, bool open) {
    std::string s;
    for (const modbus::AsciiFrame& f : frames) s += Hex(f.adu) + " " + testing::PrintToString(f.faults) + "\n";
    return s + (open ? "open" : "");
  };
  for (int round = 0; round < 300; ++round) {
    std::string chars;
    for (size_t i = 0, n = round % 7 == 0 ? 900 : rng() % 120; i < n; ++i) chars += material[rng() % material.size()];
    modbus::AsciiDecoder runs, single;
    std::vector<modbus::AsciiFrame> fromSingle;
    for (char c : chars)
      if (std::optional<modbus::AsciiFrame> f = single.Push(c)) fromSingle.push_back(std::move(*f));
    const std::vector<modbus::AsciiFrame> fromRuns = runs.Feed(chars);
    EXPECT_EQ(text(fromRuns, runs.InFrame()), text(fromSingle, single.InFrame())) << chars;
  }
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
    const Mode mode = tcp ? Mode::Tcp : Mode::Rtu;
    SCOPED_TRACE(Hex(answer));
    AssembleBothWays(mode, request, Chunks(answer, rng, 1 + rng() % 80));
    const Outcome got = Assemble(mode, request, Chunks(answer, rng, 1 + rng() % 80));
    EXPECT_TRUE(damaged || (got.complete && got.received == sound && got.faults.empty()));
  }
  // Answers near the 16-bit range with bytes after them, in one chunk and in a few: an answer that ends within the
  // range completes where it ends; one past it never does.
  for (const int objects : {120, 126, 140}) {
    Frame answer = {0x01, 0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, static_cast<uint8_t>(objects)};
    for (int id = 0; id < objects; ++id) {
      answer.insert(answer.end(), {static_cast<uint8_t>(id), 0xFF});
      answer.insert(answer.end(), 0xFF, 'v');
    }
    answer = WithCrc(answer);
    answer.insert(answer.end(), 6000, 0x55);
    SCOPED_TRACE(objects);
    EXPECT_EQ(AssembleBothWays(Mode::Rtu, WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00}), {answer}).complete,
              answer.size() - 6000 <= 32767);
    std::mt19937 rng(objects);
    AssembleBothWays(Mode::Rtu, WithCrc({0x01, 0x2B, 0x0E, 0x01, 0x00}), Chunks(answer, rng, 9000));
  }
}

}  // namespace

TEST(AssemblyInRuns, AnAnswerWithHundredsOfFaultsKeepsEachOnceInOrder) {
  // 43/14 over TCP with 250 objects, each one out of order: a fault per object, looked up by hash once many.
  Frame pdu = {0x2B, 0x0E, 0x01, 0x01, 0x00, 0x00, 250};
  for (int id = 250; id > 0; --id) pdu.insert(pdu.end(), {static_cast<uint8_t>(id), 1, 'x'});
  const Frame request = {0x00, 0x07, 0x00, 0x00, 0x00, 0x05, 0x01, 0x2B, 0x0E, 0x01, 0x00};
  const auto n = static_cast<uint16_t>(pdu.size() + 1);
  Frame answer = {0x00, 0x07, 0x00, 0x00, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0x01};
  answer.insert(answer.end(), pdu.begin(), pdu.end());
  std::vector<modbus::Fault> expected;  // the checks' faults from the function code on, moved past the header
  for (modbus::Fault& f : modbus::CheckResponsePdu(std::span(request).subspan(7), pdu))
    if (std::find(expected.begin(), expected.end(), modbus::Fault{f.message, f.offset + 7, f.length}) == expected.end())
      expected.push_back({f.message, f.offset + 7, f.length});
  ASSERT_GT(expected.size(), 200u);
  const Outcome o = Assemble(Mode::Tcp, request, {answer});
  EXPECT_TRUE(o.complete);
  EXPECT_EQ(o.faults, expected);
}
