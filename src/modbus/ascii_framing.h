#pragma once
// Modbus ASCII framing: a frame is ':' then the ADU (slave byte, PDU, LRC)
// as two upper-case hex characters a byte, then CR LF. The LRC is the two's
// complement of the 8-bit sum of the slave byte and the PDU, so the sum of
// all binary bytes of a good frame, LRC included, is 0.
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "modbus/pdu_fault.h"

namespace modbus {

// The LRC of `bytes`: -(sum mod 256), as a byte.
uint8_t Lrc(std::span<const uint8_t> bytes);

// The characters of a frame for `adu` (slave byte and PDU, without LRC):
// ":" + hex of adu + hex of its LRC + "\r\n".
std::string EncodeAscii(std::span<const uint8_t> adu);

// The characters of a frame whose bytes are all given, LRC included (a raw
// request sent as typed): ":" + hex of bytes + "\r\n".
std::string AsciiCharacters(std::span<const uint8_t> bytes);

// The binary frame (slave byte, PDU, LRC) that the first ASCII frame in
// `chars` carries, faults or not; empty when the characters hold no frame.
Frame AsciiFrameBytes(std::span<const uint8_t> chars);

// A frame taken from the characters: the binary ADU with its LRC as the last
// byte (like the CRC of an RTU frame), and what was wrong with it. Fault
// offsets count bytes of `adu` from the slave byte.
struct AsciiFrame {
  Frame adu;
  std::vector<PduFault> faults;
};

// Takes received characters one at a time and yields a frame at its end.
//
// A frame starts at ':' and ends at CR LF. Faults are reported, never thrown
// away silently, and the frame is still delivered:
//  - characters before ':' are dropped, with a fault on the next frame; a hex
//    digit where ':' was expected starts the frame without it;
//  - a ':' inside a frame drops what came before and starts again;
//  - a character that is no hex digit counts as 0 and marks its byte; a
//    lower-case hex digit is taken at its value and marked too;
//  - an odd number of hex characters drops the half byte at the end;
//  - CR not followed by LF, or LF without CR, ends the frame with a fault;
//  - a wrong LRC names the expected one; fewer than 3 bytes (slave,
//    function, LRC) cannot be a frame;
//  - beyond 255 bytes (the largest ADU with its LRC) further characters are
//    dropped up to the end of the frame, so memory stays bounded;
//  - the first kListedCharFaults bad characters of a frame are listed one by
//    one, the rest counted in one fault at its end, so a peer sending noise
//    cannot make the list (and the time spent keeping it) grow with it.
class AsciiDecoder {
 public:
  // One character; a frame when it completed one (a character after a lone CR
  // both completes the frame and, if it is ':', starts the next).
  std::optional<AsciiFrame> Push(char c);
  // Takes the leading characters that neither end nor start a frame (the
  // characters of a frame's digits, characters dropped before a frame, what
  // follows an overlong frame's first dropped character), exactly as Push
  // would one by one; returns how many. Long answers go through here in runs;
  // the next character, if any, goes to Push.
  size_t TakeRun(std::string_view chars);
  // Every frame the characters complete, in order.
  std::vector<AsciiFrame> Feed(std::string_view chars);
  // Ends a frame that has begun but not ended (for a time-out): delivered with
  // the fault "Missing CR LF at the end of the frame". Nothing when idle.
  std::optional<AsciiFrame> Finish();
  // True between the start of a frame and its end.
  bool InFrame() const { return state_ != State::Idle; }
  // Forgets everything received (a new request).
  void Reset() { *this = AsciiDecoder(); }

  static constexpr size_t kMaxAdu = 255;
  static constexpr size_t kListedCharFaults = 8;

 private:
  enum class State { Idle, Hex, AfterCr };
  void Start();
  void AddDigit(char c);
  // Takes characters from `p` up to `stop` (within the largest frame) or up
  // to the first whose class is `limit` or above, as AddDigit would once the
  // listed faults are said; returns where it stopped.
  const char* TakeDigits(const char* p, const char* stop, uint8_t limit);
  void Fault(std::string message, int32_t offset, int32_t length);
  AsciiFrame End();

  State state_ = State::Idle;
  size_t dropped_ = 0;  // characters before ':' since the last frame
  Frame adu_;
  int nibble_ = -1;  // the high nibble awaiting its partner, -1 for none
  bool overlong_ = false;
  size_t charFaults_ = 0;  // bad characters in the frame so far, listed or not
  // The counts of bytes dropped by a restart already said in this frame.
  std::bitset<kMaxAdu + 1> restartsSaid_;
  std::vector<PduFault> faults_;
};

}  // namespace modbus
