#pragma once
// Assembly and checking of one answer. Bytes received after a request are
// fed in as they come; the assembler tells when they make a complete frame,
// and then gives the frame, the faults found in it (in the order first found,
// each once) and the exception code, if the slave answered with one. A faulty
// frame is never discarded: it is complete with its faults.
//
// In ASCII framing the bytes received are characters. They go through the
// ASCII decoder; the frame is complete at its CR LF (or at whatever else the
// decoder takes for its end), and every check of the binary framings runs on
// the binary frame the characters carry, the LRC in place of the CRC. The
// length rules then say how long that binary frame must be: one shorter or
// longer is a fault. Fault offsets and lengths count received characters, so
// that a fault paints the characters that carry its bytes: byte i of the
// binary frame is the two hex digits at d + 2i, d being where the frame's
// first digit was received (just after its ':').
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "modbus/ascii_framing.h"
#include "modbus/pdu_ext.h"
#include "modbus/pdu_fault.h"
#include "modbus/types.h"

namespace modbus {

// The most bytes (in ASCII framing, characters) held for one answer. No
// frame whose length the rules can tell is this long, and no ASCII frame (its
// characters past the largest frame are dropped up to its end), so an answer
// that reaches the bound without completing ends there with the fault "No
// frame ends within 65536 bytes": a peer that keeps streaming cannot grow the
// buffer further nor hold the link until the time-out.
inline constexpr int32_t kMaxResponseBytes = 65536;

class ResponseAssembler {
 public:
  ResponseAssembler() = default;
  ResponseAssembler(Mode mode, Frame request);

  // Feeds one byte that arrived in a chunk of `chunkSize` bytes. An answer to
  // a function without a length rule is, in RTU framing, taken to be as long
  // as the chunk it arrives in (at least slave, function, one byte and CRC).
  // True when this byte completes the frame, or reaches the bound. Once
  // complete further bytes are ignored (false).
  bool Feed(uint8_t b, int32_t chunkSize);
  // Feeds a whole chunk as it arrived, byte by byte as above (the bytes after
  // the one that completes the frame are ignored); true when it completed the
  // frame. Once the frame's length is settled the bytes are taken in bulk.
  bool FeedChunk(const uint8_t* bytes, size_t size);
  bool FeedChunk(const Frame& chunk) { return FeedChunk(chunk.data(), chunk.size()); }

  bool Complete() const { return complete_; }
  Mode FrameMode() const { return mode_; }
  const Frame& Request() const { return request_; }
  // The bytes held: all received so far, or the frame once complete.
  const Frame& Received() const { return rx_; }
  // The faults found so far, in the order first found.
  const std::vector<Fault>& Faults() const { return faults_; }
  // The exception code of a complete exception answer.
  std::optional<uint8_t> Exception() const { return exception_; }
  // Index of the slave byte in the frame.
  int32_t SlaveIndex() const { return SlaveOffset(mode_); }
  // The answer as the checks read it, slave byte at SlaveIndex(): the frame
  // itself, or in ASCII framing the binary frame its characters carry (slave
  // byte to LRC).
  const Frame& Answer() const { return IsAscii(mode_) && !binary_ ? adu_ : rx_; }
  // Where the bytes `offset`.. (`length` of them) of Answer() were received:
  // the same numbers, or in ASCII framing the characters that carry them.
  Fault WireSpan(std::string message, int32_t offset, int32_t length) const;
  // The transaction identifier the answer must carry (MBAP framing).
  int32_t ExpectedTransactionId() const { return ByteAt(request_, 0) * 256 + ByteAt(request_, 1); }

 private:
  // An assembler for the binary frame that ASCII characters carry.
  ResponseAssembler(Mode mode, Frame requestAdu, bool binary);
  void AddFault(std::string message, int32_t offset, int32_t length);
  // AddFault for each of `found`, its offset moved by `shift`.
  void AddFaults(std::vector<PduFault> found, int32_t shift);
  // One received character in ASCII framing.
  bool FeedAscii(uint8_t c);
  // A chunk of characters in ASCII framing, as FeedAscii takes them one by one.
  bool FeedAsciiChunk(const uint8_t* bytes, size_t size);
  // One byte in binary framing, below the bound.
  bool FeedByte(uint8_t b, int32_t chunkSize);
  // Ends the answer at kMaxResponseBytes with its fault.
  bool EndAtBound();
  // Completes an ASCII frame whose first digit was received at `digitsAt`.
  bool FinishAscii(AsciiFrame frame, int32_t digitsAt);
  // The request's PDU length, function code included.
  int32_t RequestPduSize() const;
  // Completes the frame at E bytes from the slave byte (L: the MBAP length).
  bool Finish(int32_t E, int32_t L);

  Mode mode_ = Mode::Rtu;
  Frame request_;
  Frame rx_;
  std::vector<Fault> faults_;
  std::optional<uint8_t> exception_;
  bool complete_ = false;
  // Once the bytes held settle the frame's length: where it ends (the largest
  // int when it never can), and the MBAP length.
  int32_t settledEnd_ = -1;
  int32_t settledL_ = 0;
  // Where the frame ends by the size of the chunk being fed (the rule for a
  // function without a length rule), -1 when that rule did not apply.
  int32_t chunkEnd_ = -1;
  // Before this many bytes are held the length cannot be told (an answer
  // whose rule walks its objects): bytes up to there are only appended.
  int32_t quietUntil_ = 0;
  // How far the length rule of a 43/14 answer has walked its objects.
  ObjectWalk objectWalk_;
  // ASCII framing: this assembler checks a binary frame already decoded;
  // else the decoder, the decoded frame and where its first digit was received.
  bool binary_ = false;
  AsciiDecoder decoder_;
  Frame adu_;
  int32_t digitsAt_ = 0;
};

// The operator's name of a standard exception code 1..11; empty for others.
const char* ExceptionName(int32_t code);

}  // namespace modbus
