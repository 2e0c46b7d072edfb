// The transaction cycle: the request list, the start of a transaction, the
// request time-out and the ending of communication after it.
#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"

namespace {
// Size of the receive buffer's first allocation; not a limit.
constexpr size_t kRxInitialSize = 1025;
}  // namespace

void frmMain::cmdSend_Click() { SendRequest(); }

void frmMain::SendRequest() {
  // The last response time stays visible, greyed, while the new request runs.
  lblDT.SetForeColor(kColorGrayText);
  txtResponse.SetEnabled(false);
  // A Send never waits for an answer in flight: whatever was still queued is
  // dropped, and the new first frame restarts the time-out.
  ResetRequests();
  if (HexView) {
    GetBytesOfHexInput();
  } else {
    GetBytesOfForm();
  }
  if (Mode != 0) {
    TryTcpConnect();
    SendTcpRequest();
  } else {
    OpenRtuPort();
    SendRtuRequest();
  }
}

void frmMain::PushRequest(const Frame& Data) { Requests.push_back(Data); }

std::optional<Frame> frmMain::PopRequest() {
  if (Requests.empty()) return std::nullopt;
  Frame first = std::move(Requests.front());
  Requests.erase(Requests.begin());
  return first;
}

void frmMain::ResetRequests() { Requests.clear(); }

void frmMain::StartTimer() {
  RequestStartTime = GetDayMilliseconds();
  RequestStartMono = platform_.clock->MonotonicMs();
  // Without a usable time-out the request waits until the next Send.
  ArmTimeout(tmrTimeout);
}

void frmMain::ArmTimeout(TimerField& timer) {
  timer.SetEnabled(false);
  timer.SetInterval(0);
  // RTU-OVER-TCP travels on the socket and takes the socket's time-out.
  const std::string& text = Mode != 0 ? txtTcpTimeout.Text() : txtRtuTimeout.Text();
  if (const auto ms = ParseLong(TrimBlank(text))) timer.SetInterval(*ms);
  timer.SetEnabled(true);
}

bool frmMain::TakeNextRequest() {
  std::optional<Frame> request = PopRequest();
  if (!request) return false;
  LastRequest = std::move(*request);
  ResetRxBuffer();
  assembler_ = modbus::ResponseAssembler(modbus::ModeOf(Mode), LastRequest);
  AwaitingResponse = true;
  ResetProtocolErrors();
  return true;
}

void frmMain::PutRequestOnWire(const std::function<void(const Frame&)>& write) {
  StartTimer();
  LogRequest(LastRequest);
  // An empty frame (raw input without a digit) puts nothing on the wire; its
  // time-out ends the transaction.
  if (!LastRequest.empty()) write(LastRequest);
  ++Stats.sent;
  StatsChanged();
}

void frmMain::StopTimer() {
  tmrTimeout.SetEnabled(false);
  tmrTimeout.SetInterval(0);
}

void frmMain::tmrTimeout_Timer() {
  // AwaitingResponse is still True here, so the log shows the bytes received
  // for this request (and only for this one).
  LogError("Communication Error", "Request Timeout", true, 0, 0);
  ResetCommunication();
  ResetRequests();
  StopTimer();
  AwaitingResponse = false;
  ++Stats.timeouts;
  StatsChanged();
}

void frmMain::ResetCommunication() {
  CloseRtuPort();
  DisconnectTCP();
}

void frmMain::EndTransaction() {
  StopTimer();
  AwaitingResponse = false;
  ResetRequests();
}

void frmMain::ResetRxBuffer() {
  RxBuffer.assign(kRxInitialSize, 0);
  RxCount = 0;
}

int32_t frmMain::GetDayMilliseconds() { return ::GetDayMilliseconds(platform_.clock->Now()); }
