// The one place where the session's events become what the operator sees:
// log rows (texts, colours, painted bytes), the response view, the enabled
// state of the link's fields, and the panel's mirrors of the session.
#include "modbus/types.h"
#include "panel/frmMain.h"
#include "panel/port_details.h"
#include "panel/serial_settings.h"

namespace {
constexpr const char* kCommunicationError = "Communication Error";
}  // namespace

void frmMain::LogErrorShowing(const std::string& Class, const std::string& msg, const Frame& received) {
  // Only bytes received for the request in flight are shown.
  if (!received.empty()) {
    LogRecord record;
    record.kind = LogRecord::Kind::Response;
    record.bytes = LogRowBytes(received);
    AppendLogEntry("Response <-- " + ToLogHexStringBounded(received), LogColorInfo, std::move(record));
  }
  LogError(Class, msg, false, 0, 0);
}

void frmMain::OnSessionEvent(const engine::Event& e) {
  using engine::EventKind;
  SyncFromSession();
  auto serialFieldsEnabled = [this](bool on) {
    // The line settings cannot change while the port is open.
    cmbRtuPort.SetEnabled(on);
    cmbRtuSpeed.SetEnabled(on);
    cmbRtuParity.SetEnabled(on);
    cmbRtuStopBit.SetEnabled(on);
  };
  switch (e.kind) {
    case EventKind::Connecting:
      Log("", LogColorInfo);
      Log("Connect to " + e.text + ":" + std::to_string(e.number) + "...", LogColorInfo);
      // Host and port cannot change while a connection is attempted or up.
      txtTcpHost.SetEnabled(false);
      txtTcpPort.SetEnabled(false);
      break;
    case EventKind::Connected:
      Log("Connected", LogColorInfo);
      break;
    case EventKind::SocketReleased:
      txtTcpHost.SetEnabled(true);
      txtTcpPort.SetEnabled(true);
      // Logged in every state but closed, connecting included.
      if (e.flag) {
        Log("Disconnected", LogColorInfo);
        lblDT.SetCaption("");
      }
      break;
    case EventKind::ConnectTimeout:
      LogErrorShowing(kCommunicationError, "Connect timeout", e.received);
      break;
    case EventKind::ConnectionError:
      LogErrorShowing(kCommunicationError,
                      (e.flag ? std::string(kSlaveClosedText) + ": " : std::string()) + e.text + " (Code " +
                          std::to_string(e.number) + ")",
                      e.received);
      break;
    case EventKind::PeerClosed:
      Log(std::string(kSlaveClosedText) + ": " + e.text, LogColorInfo);
      break;
    case EventKind::StaleDropped:
      Log(DroppedBytesText(e.number), LogColorInfo);
      break;
    case EventKind::PortRefused:
      LogErrorShowing(kCommunicationError, e.flag ? "COM port not selected" : "COM ports not found", e.received);
      break;
    case EventKind::PortOpening: {
      Log("", LogColorInfo);
      Log("Open " + e.text + "...", LogColorInfo);
      // The settings text the port is opened with, as the panel shows it.
      CommSettings = LineSettingsText(CleanString(cmbRtuSpeed.Text()), ParityLetter(cmbRtuParity.Text()),
                                      cmbRtuStopBit.ListIndex() + 1);
      break;
    }
    case EventKind::PortOpened:
      Log(e.text + " opened", LogColorInfo);
      serialFieldsEnabled(false);
      break;
    case EventKind::PortOpenFailed:
      LogErrorShowing(kCommunicationError, "Failed to open " + e.text + ": " + e.detail, e.received);
      if (e.flag) Log(kSerialPermissionHint, LogColorInfo);
      break;
    case EventKind::PortClosed:
      Log(e.text + " closed", LogColorInfo);
      serialFieldsEnabled(true);
      break;
    case EventKind::PortGone:
      Log(e.text + " closed: " + (e.detail.empty() ? std::string("port gone") : e.detail), LogColorInfo);
      serialFieldsEnabled(true);
      break;
    case EventKind::RequestSent:
      ResetRxBuffer();
      ResetProtocolErrors();
      if (modbus::IsSocketMode(modbus::ModeOf(Mode)))
        ExpectedTransactionId = ByteAt(LastRequest, 0) * 256 + ByteAt(LastRequest, 1);
      LogRequest(e.frame);
      break;
    case EventKind::AnswerComplete: {
      MirrorReception();
      LogResponse(e.frame);
      const int32_t s = e.number;
      // Read in the framing the request went out in (the mode may have
      // changed between two socket framings since).
      const modbus::Mode framing = session_->Assembly().FrameMode();
      if (e.exception) {
        const int32_t code = *e.exception;
        if (code < 1 || code > 11) {
          LogError("Modbus Exception", "Unknown exception (Code " + std::to_string(code) + ")", false,
                   e.codeMark.length, e.codeMark.offset);
        } else {
          LogError("Modbus Exception",
                   ExceptionText[static_cast<size_t>(code)] + " (Code " + std::to_string(code) + ")", false, 0, 0);
        }
      } else {
        ShowResponse(e.answer, static_cast<int16_t>(s), framing);
      }
      // The faults in the order first found, each painting its bytes in the response row.
      for (const modbus::Fault& fault : e.faults)
        LogError("Protocol Error", fault.message, false, fault.length, fault.offset);
      // A good device identification answer with more objects asks for the next
      // (read from the binary frame: in ASCII framing e.frame is its characters).
      if (!e.exception && e.faults.empty()) FollowDeviceId(e.answer, static_cast<int16_t>(s), framing);
      break;
    }
    case EventKind::RequestTimeout:
      LogErrorShowing(kCommunicationError, "Request Timeout", e.received);
      break;
    case EventKind::StatsChanged:
      StatsChanged();
      break;
  }
}
