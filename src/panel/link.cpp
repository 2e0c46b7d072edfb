// The panel's transaction, transport and polling handlers. Each forwards to
// the session (engine::Session) or the poller, then brings the panel's
// mirrors of their state up to date.
#include "common/module1.h"
#include "common/number_text.h"
#include "modbus/types.h"
#include "panel/field_timers.h"
#include "panel/frmMain.h"
#include "panel/serial_settings.h"

namespace {
// Size of the receive buffer's first allocation; not a limit.
constexpr size_t kRxInitialSize = 1025;
}  // namespace

void frmMain::StartEngine() {
  // The session's two timers are tmrConnectTimeout and tmrTimeout, the
  // poller's is tmrAuto (in the order they ask for them).
  fieldTimers_ =
      std::make_shared<FieldTimerFactory>(std::vector<TimerField*>{&tmrConnectTimeout, &tmrTimeout, &tmrAuto});
  session_ = std::make_unique<engine::Session>(engine::LinkParts{platform_.clock, fieldTimers_, comm1, ws},
                                               [this] { return LinkSettingsNow(); });
  requester_ = session_->AddRequester([this](const engine::Event& e) { OnSessionEvent(e); },
                                      [this] { return PopRequest(); }, [this] { ResetRequests(); });
  // A tick waits for the panel's own answer only: a watched block's read in
  // flight lets the panel's request go next.
  poller_ = std::make_unique<engine::Poller>(
      fieldTimers_->CreateTimer(), [this] { return session_->AwaitingResponse() && session_->Current() == requester_; },
      [this] { cmdSend_Click(); });
  StartWatch();
}

engine::LinkSettings frmMain::LinkSettingsNow() const {
  engine::LinkSettings s;
  s.mode = modbus::ModeOf(Mode);
  // A port text that is no number connects to port 0 (the socket reports the
  // failure as an error event).
  s.host = txtTcpHost.Text();
  s.port = ParseLong(TrimBlank(txtTcpPort.Text())).value_or(0);
  s.socketTimeoutMs = ParseLong(TrimBlank(txtTcpTimeout.Text()));
  s.serialTimeoutMs = ParseLong(TrimBlank(txtRtuTimeout.Text()));
  s.portChosen = cmbRtuPort.ListIndex() >= 0;
  s.portsListed = cmbRtuPort.ListCount() > 0;
  s.portName = cmbRtuPort.Text();
  // The line settings are those on the panel now: speed (stray control
  // characters dropped), parity letter, 8 data bits, stop bits.
  s.serial = LineSettings(CleanString(cmbRtuSpeed.Text()), ParityLetter(cmbRtuParity.Text()),
                          cmbRtuStopBit.ListIndex() + 1, s.serialRefusal);
  return s;
}

void frmMain::SyncFromSession() {
  AwaitingResponse = session_->AwaitingResponse();
  LastRequest = session_->LastRequest();
  RequestStartTime = session_->RequestStartDayMs();
  RequestStartMono = session_->RequestStartMono();
  Stats = session_->Stats();
  OpenPortName = session_->OpenPortName();
}

void frmMain::MirrorReception() {
  const modbus::ResponseAssembler& a = session_->Assembly();
  if (a.Received().empty()) return;
  RxBuffer = a.Received();
  RxCount = static_cast<int32_t>(RxBuffer.size());
  ProtocolErrors.clear();
  for (const modbus::Fault& fault : a.Faults())
    ProtocolErrors.push_back(fault.message + '\t' + std::to_string(fault.offset) + '\t' + std::to_string(fault.length));
  if (modbus::UsesMbap(a.FrameMode())) ExpectedTransactionId = a.ExpectedTransactionId();
}

// ---- the transaction cycle ------------------------------------------------------------

void frmMain::cmdSend_Click() { SendRequest(); }

void frmMain::SendRequest() {
  // The last response time stays visible, greyed, while the new request runs.
  lblDT.SetForeColor(kColorGrayText);
  txtResponse.SetEnabled(false);
  // A Send never waits for its own answer in flight: whatever was still
  // queued is dropped, and the new first frame restarts the time-out.
  ResetRequests();
  if (HexView) {
    GetBytesOfHexInput();
  } else {
    GetBytesOfForm();
  }
  session_->SendNow(requester_);
  SyncFromSession();
}

void frmMain::PushRequest(const Frame& Data) { Requests.push_back(Data); }

std::optional<Frame> frmMain::PopRequest() {
  if (Requests.empty()) return std::nullopt;
  Frame first = std::move(Requests.front());
  Requests.erase(Requests.begin());
  return first;
}

void frmMain::ResetRequests() { Requests.clear(); }

void frmMain::tmrTimeout_Timer() {
  session_->OnRequestTimeout();
  SyncFromSession();
}

void frmMain::ResetCommunication() {
  CloseRtuPort();
  DisconnectTCP();
}

void frmMain::EndTransaction() {
  session_->EndTransaction();
  SyncFromSession();
}

void frmMain::ResetRxBuffer() {
  RxBuffer.assign(kRxInitialSize, 0);
  RxCount = 0;
}

void frmMain::ResetProtocolErrors() { ProtocolErrors.clear(); }

int32_t frmMain::GetDayMilliseconds() { return ::GetDayMilliseconds(platform_.clock->Now()); }

// ---- the serial port ---------------------------------------------------------------------

void frmMain::OpenRtuPort() {
  session_->OpenPort();
  SyncFromSession();
}

void frmMain::CloseRtuPort() {
  session_->ClosePort();
  SyncFromSession();
}

void frmMain::SendRtuRequest() {
  session_->SendNext();
  SyncFromSession();
}

void frmMain::comm1_OnComm() {
  session_->OnSerialData();
  SyncFromSession();
  MirrorReception();
}

void frmMain::comm1_Gone(const std::string& reason) {
  session_->OnPortGone(reason);
  SyncFromSession();
}

void frmMain::cmdRtuOpenPort_Click() { OpenRtuPort(); }

void frmMain::cmdRtuClosePort_Click() {
  if (!modbus::IsSocketMode(modbus::ModeOf(Mode))) EndTransaction();
  CloseRtuPort();
}

// ---- the socket ----------------------------------------------------------------------------

void frmMain::ConnectTCP() {
  session_->Connect();
  SyncFromSession();
}

void frmMain::TryTcpConnect() {
  session_->EnsureConnected();
  SyncFromSession();
}

void frmMain::DisconnectTCP() {
  session_->Disconnect();
  SyncFromSession();
}

void frmMain::SendTcpRequest() {
  session_->SendNext();
  SyncFromSession();
}

void frmMain::tmrConnectTimeout_Timer() {
  session_->OnConnectTimeout();
  SyncFromSession();
}

void frmMain::ws_Connect() {
  session_->OnConnected();
  SyncFromSession();
}

void frmMain::ws_DataArrival(int32_t /*bytesTotal*/) {
  // The byte count of the event is not used; the session reads all there is.
  session_->OnSocketData();
  SyncFromSession();
  MirrorReception();
}

void frmMain::ws_Error(int16_t Number, const std::string& Description) {
  session_->OnSocketError(Number, Description);
  SyncFromSession();
}

void frmMain::cmdTcpConnect_Click() {
  // A fresh connection replaces the one that carries the request in flight.
  if (modbus::IsSocketMode(modbus::ModeOf(Mode))) EndTransaction();
  ConnectTCP();
}

void frmMain::cmdTcpDisconnect_Click() {
  if (modbus::IsSocketMode(modbus::ModeOf(Mode))) EndTransaction();
  DisconnectTCP();
}

// ---- polling ----------------------------------------------------------------------------------

void frmMain::AutoON() {
  AutoPolling = true;
  ApplyPollInterval();
  RefreshTimerAuto();
  cmdAuto0.SetFocus();
}

void frmMain::AutoOFF() {
  AutoPolling = false;
  RefreshTimerAuto();
  cmdAuto1.SetFocus();
}

void frmMain::RefreshTimerAuto() {
  // The stop button lies over the start button; only one of them shows.
  pctAuto.SetVisible(AutoPolling);
  cmdAuto1.SetVisible(!AutoPolling);
  // The first poll does not wait for the first tick.
  poller_->SetRunning(AutoPolling);
}

void frmMain::tmrAuto_Timer() { poller_->Tick(); }

void frmMain::cmdAuto1_MouseDown() { AutoON(); }

void frmMain::cmdAuto0_MouseDown() { AutoOFF(); }

void frmMain::ApplyPollInterval() {
  // A value outside the range (typed but refused by the value check, or not a
  // number) leaves the interval as it was.
  if (const auto ms = ParseLong(TrimBlank(txtPollInterval.Text())); ms && *ms >= kMinPollMs && *ms <= kMaxPollMs)
    poller_->SetIntervalMs(*ms);
}
