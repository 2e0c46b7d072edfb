// Reception on the panel: the bytes of a chunk go to the answer's assembler
// (modbus::ResponseAssembler); a complete answer is logged and shown, each
// fault following it as a "Protocol Error" row with its bytes painted in the
// response row.
#include "common/module1.h"
#include "modbus/response.h"
#include "panel/frmMain.h"

void frmMain::MirrorReception() {
  RxBuffer = assembler_.Received();
  RxCount = static_cast<int32_t>(RxBuffer.size());
  ProtocolErrors.clear();
  for (const modbus::Fault& fault : assembler_.Faults())
    ProtocolErrors.push_back(fault.message + '\t' + std::to_string(fault.offset) + '\t' + std::to_string(fault.length));
  if (modbus::UsesMbap(assembler_.FrameMode())) ExpectedTransactionId = assembler_.ExpectedTransactionId();
}

bool frmMain::ReceiveChunk(const Frame& data) {
  if (!AwaitingResponse || data.empty()) return false;
  const auto total = static_cast<int32_t>(data.size());
  bool complete = false;
  for (uint8_t b : data)
    if ((complete = assembler_.Feed(b, total))) break;
  MirrorReception();
  if (!complete) return false;

  // The frame is complete; the rest of the chunk belongs to no request.
  AwaitingResponse = false;
  StopTimer();
  LogResponse(RxBuffer);
  const int32_t s = assembler_.SlaveIndex();
  if (const auto code = assembler_.Exception()) {
    if (*code < 1 || *code > 11) {
      LogError("Modbus Exception", "Unknown exception (Code " + std::to_string(*code) + ")", false, 1, s + 2);
    } else {
      LogError("Modbus Exception", ExceptionText[*code] + " (Code " + std::to_string(*code) + ")", false, 0, 0);
    }
  } else {
    ShowResponse(RxBuffer, static_cast<int16_t>(s));
  }
  // The faults in the order first found. The list stays until the next send.
  for (const modbus::Fault& fault : assembler_.Faults())
    LogError("Protocol Error", fault.message, false, fault.length, fault.offset);

  // Each complete answer counts once; only a good one has a response time.
  if (!assembler_.Faults().empty()) {
    ++Stats.protocolErrors;
  } else if (assembler_.Exception()) {
    ++Stats.exceptions;
  } else {
    Stats.CountAnswer(ResponseElapsedMs());
  }
  StatsChanged();
  return true;
}

void frmMain::ResetProtocolErrors() { ProtocolErrors.clear(); }
