#pragma once
// The front panel: every field of the window, the panel-level state, and the
// procedures and event handlers of the program as members. The window (or a
// test) drives it by calling the handlers. The link, the requests on it, the
// time-outs, polling and the statistics are the engine's (engine::Session,
// engine::Poller): the handlers forward to it, and the state items it owns
// (AwaitingResponse, LastRequest, RxBuffer, Stats, ...) are kept here as
// mirrors, brought up to date after every call into it and with every event
// it reports. The log rows are made from its events in one place
// (session_events.cpp).
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "engine/poller.h"
#include "engine/session.h"
#include "engine/session_stats.h"
#include "engine/watch_runner.h"
#include "modbus/address_notation.h"
#include "modbus/requests.h"
#include "panel/fields.h"
#include "panel/form_fields.h"
#include "platform/platform.h"
#include "presentation/log_file.h"
#include "presentation/log_record.h"
#include "presentation/register_decoding.h"

// Log colours (&H00BBGGRR).
constexpr uint32_t LogColorInfo = 0xA7A3A1;       // RGB(161,163,167) light grey
constexpr uint32_t LogColorError = 0x4C4CFF;      // RGB(255,76,76) red
constexpr uint32_t LogColorHighlight = 0xFFFFFF;  // RGB(255,255,255) white

// Link targets. Placeholders under the reserved .example domain until the
// project has pages of its own.
inline constexpr const char* kSiteUrl = "https://vesktarvelo.example/?referer=VeskTarvelo";
inline constexpr const char* kTestServerUrl = "https://vesktarvelo.example/modbus-tcp-test-server";

// The polling interval (txtPollInterval, setting "pollinterval"): its range
// in ms and its value on a first start.
inline constexpr int32_t kMinPollMs = 100;
inline constexpr int32_t kMaxPollMs = 65535;
inline constexpr const char* kDefaultPollText = "1000";

// The characters of s whose codes are 32..126, in order.
std::string CleanString(const std::string& s);
// Selects the first item equal to searchText (ignoring case unless
// caseSensitive); -1 and false when none is equal; false and unchanged when
// the list is empty.
bool SetComboIndexByText(ListField& cbo, const std::string& searchText, bool caseSensitive = false);

using SessionStats = engine::SessionStats;

class frmMain : public FormFields {
 public:
  explicit frmMain(const platform::Platform& platform);
  ~frmMain() override;

  // ---- timers (fixed order: created after the platform is known) ------------
  TimerField tmrRefreshComPorts;
  TimerField tmrConnectTimeout;
  TimerField tmrTimeout;
  TimerField tmrAuto;

  // ---- transports -----------------------------------------------------------
  std::shared_ptr<platform::SerialPort> comm1;
  std::shared_ptr<platform::TcpSocket> ws;

  // ---- panel-level state ------------------------------------------------------
  int16_t Mode = 0;
  bool HexView = false;
  int16_t FormatIndex = 0;
  std::string ComPortName;
  std::vector<Frame> Requests;
  int32_t RequestStartTime = 0;
  // Monotonic time of the last send; the response time is measured from it
  // so that midnight and daylight-saving changes do not disturb it.
  int64_t RequestStartMono = 0;
  bool AwaitingResponse = false;
  int32_t TransactionID = 0;
  std::array<std::string, 12> ExceptionText{};  // indices 1..11
  Frame RxBuffer;
  int32_t RxCount = 0;
  Frame LastRequest;
  int32_t ExpectedTransactionId = 0;
  std::vector<std::string> ProtocolErrors;
  bool AutoPolling = false;
  int32_t RxLogStart = 0;
  int32_t RxLogEnd = 0;
  int32_t LogLineCount = 0;
  // Serial control properties: the port number chosen in the list and the
  // line settings text it was given. Applied only when the port is opened.
  int16_t CommPort = 0;
  std::string CommSettings;
  // Name of the open serial port (empty when closed), for the "closed" row.
  std::string OpenPortName;
  // The system's port list as the last refresh read it (names untrimmed).
  std::vector<platform::PortInfo> PortInfos;

  // The registers of the register read the response view shows (function 3
  // or 4): address and bytes of each register whose two bytes the response
  // holds, at most 127. Empty when the view shows none (coils, writes, or
  // emptied for a new answer). The registers' lines start at view line
  // ResponseRegistersFirstLine; a line holds ResponseRegistersPerLine of them
  // (1 in a 16-bit format, 2 in a 32-bit format).
  struct ResponseRegister {
    int32_t address = 0;
    RegisterBytes bytes{};
  };
  std::vector<ResponseRegister> ResponseRegisters;
  int32_t ResponseRegistersFirstLine = 0;
  int32_t ResponseRegistersPerLine = 1;

  // ---- session statistics --------------------------------------------------------
  // Counted by the transaction engine: a request sent, each complete answer
  // (good, with protocol errors, or a Modbus exception), each request
  // time-out and each connection error. Reset on a change of mode.
  SessionStats Stats;
  // Called after every change of Stats (the window refreshes its status bar).
  std::function<void()> onStatsChanged;

  // ---- refused values ----------------------------------------------------------------
  // Why the last check of `field` refused its value ("Address: 99999 is outside 0 to
  // 65535"), empty when it passed or was never checked. Set by the fields' value checks.
  std::string Refusal(const TextBox& field) const;
  // Called when a field's refusal appears, changes or clears (the window marks the field
  // and shows the reason).
  std::function<void(const TextBox& field, const std::string& reason)> onRefusalChanged;
  // The reason `field`'s text would be refused now, empty when it would pass (the rule of
  // its value check, without beep, focus or record).
  std::string RefusalOf(const TextBox& field);

  // ---- start-up and close ----------------------------------------------------
  void Form_Load();
  void Form_QueryUnload(int16_t& Cancel, int16_t UnloadMode);
  int16_t GetCmd();
  // The program's version as "major.minor.revision".
  static std::string VersionText();

  // ---- mode, command and view switching ----------------------------------------
  void RefreshCmd();
  void RefreshMode();
  void RefreshHexView();
  void cmbMode_Click();
  void cmbCmd_Click();
  void cmbFormat_Click();
  void optFORM_Click();
  void optHEX_Click();

  // Zeroes Stats and raises onStatsChanged.
  void ResetStats();
  // Stats as one status-bar line (FormatSessionStats with the platform's
  // decimal separator), for example "Sent 12 · OK 10 · Protocol errors 1 ·
  // Exceptions 0 · Time-outs 1 · Connection errors 0 · Response ms last 3
  // min 2 avg 3.4 max 9".
  std::string StatsText() const;

  // ---- settings ----------------------------------------------------------------
  void LoadSett();
  void SaveSett();

  // ---- input fields: key filters, value checks, clipboard ---------------------------
  void txtUnitID_KeyPress(int16_t& KeyAscii);
  void txtAddr_KeyPress(int16_t& KeyAscii);
  void txtQuantity_KeyPress(int16_t& KeyAscii);
  void txtValue_KeyPress(int16_t& KeyAscii);
  void txtHEX_KeyPress(int16_t& KeyAscii);
  void txtTcpPort_KeyPress(int16_t& KeyAscii);
  void txtTcpTimeout_KeyPress(int16_t& KeyAscii);
  void txtRtuTimeout_KeyPress(int16_t& KeyAscii);
  // Digits and the control keys pass, as in txtTcpTimeout.
  void txtPollInterval_KeyPress(int16_t& KeyAscii);
  void txtUnitID_Validate(bool& Cancel);
  void txtAddr_Validate(bool& Cancel);
  void txtQuantity_Validate(bool& Cancel);
  void txtTcpPort_Validate(bool& Cancel);
  void txtTcpTimeout_Validate(bool& Cancel);
  void txtRtuTimeout_Validate(bool& Cancel);
  // Refuses a value outside 100..65535; a value it passes becomes tmrAuto's
  // interval at once.
  void txtPollInterval_Validate(bool& Cancel);
  void txtResponse_KeyDown(int16_t KeyCode, int16_t Shift);
  void txtLog_KeyDown(int16_t KeyCode, int16_t Shift);
  void txtHEX_KeyDown(int16_t KeyCode, int16_t Shift);
  void ProcessClipBoard(TextBox& Ctrl, int16_t KeyCode, int16_t Shift);
  void WaitWithEvents(double seconds, const bool& stop, int stepMs);

  // ---- links --------------------------------------------------------------------
  void imgLogo_Click();
  void Label8_Click();
  void lblScada_Click();
  std::string OpenDocument(const std::string& target);

  // ---- request composition -----------------------------------------
  void GetBytesOfForm();
  void GetBytesOfHexInput();
  // The composition behind GetBytesOfForm: the frames of the form in `out`,
  // built with transaction identifiers counted on from `transactionId` (which
  // holds the last one used afterwards); TransactionID itself is untouched.
  // Nothing is pushed, logged or beeped. False, with the reason in `refusal`,
  // when a field stops the frames from being built: a slave outside 0..255,
  // an address that is not a number, a 32-bit value written with function 06
  // at 65535. True with no frame when no command is chosen.
  bool ComposeForm(std::vector<Frame>& out, std::string& refusal, int32_t& transactionId);
  // The bytes Send would put on the wire now, as hex text ("01 03 00 00 00 01
  // 84 0A"), two frames separated by " | ", and in HEX view the typed bytes;
  // in ASCII framing the frames' characters (":010300000001FB<CR><LF>");
  // or the refusal text of ComposeForm ("Invalid slave address \"300\": a slave
  // address is a number from 0 to 255"). Empty when nothing would be sent. The
  // next Send uses the transaction identifier shown; nothing else changes.
  std::string PreviewRequest();
  bool Format2B();

  // ---- transaction cycle ---------------------------------------------------------
  void cmdSend_Click();
  void SendRequest();
  void PushRequest(const Frame& Data);
  std::optional<Frame> PopRequest();
  void ResetRequests();
  void tmrTimeout_Timer();
  void ResetCommunication();
  void ResetRxBuffer();
  int32_t GetDayMilliseconds();
  // Ends the transaction in flight when the operator closes its transport:
  // stops the request time-out, clears AwaitingResponse, empties Requests.
  void EndTransaction();

  // ---- reception -------------------------------------------------------------------
  void ResetProtocolErrors();

  // ---- serial transport --------------------------------------------------------------
  void OpenRtuPort();
  void CloseRtuPort();
  void SendRtuRequest();
  void RefreshComPorts();
  void cmbRtuPort_Click();
  void SetComPort(int16_t n);
  void comm1_OnComm();
  void comm1_Gone(const std::string& reason);
  void tmrRefreshComPorts_Timer();
  // cmbRtuPort's tool tip: PortDetailsText of the selected port from
  // PortInfos, or empty when no port is selected.
  void RefreshPortToolTip();
  void cmdRtuOpenPort_Click();
  void cmdRtuClosePort_Click();

  // ---- TCP transport -------------------------------------------------------------------
  void ConnectTCP();
  void TryTcpConnect();
  void DisconnectTCP();
  void SendTcpRequest();
  void tmrConnectTimeout_Timer();
  void ws_Connect();
  void ws_DataArrival(int32_t bytesTotal);
  void ws_Error(int16_t Number, const std::string& Description);
  void cmdTcpConnect_Click();
  void cmdTcpDisconnect_Click();

  // ---- polling ------------------------------------------------------------------------
  void AutoON();
  void AutoOFF();
  void RefreshTimerAuto();
  void tmrAuto_Timer();
  void cmdAuto1_MouseDown();
  void cmdAuto0_MouseDown();
  // tmrAuto's interval from txtPollInterval, when that holds 100..65535.
  void ApplyPollInterval();

  // ---- response view ---------------------------------------------------------------------
  void ShowResponse(const Frame& frame, int16_t s);
  // The same for an answer in the framing its request went out in, which is
  // not the mode's when the mode changed while the answer was awaited.
  void ShowResponse(const Frame& frame, int16_t s, modbus::Mode framing);
  void AddResponseLine(const std::string& text);
  // Milliseconds since the request in flight was sent, on the monotonic
  // clock, never negative: the response time lblDT shows.
  int64_t ResponseElapsedMs() const;
  // The value inspector for line `line` (0-based) of the response view: the
  // register of that line and the three after it in every format
  // (InspectRegisters). In a 32- or 64-bit format view the line's first
  // register is the selected one. Empty for a line that shows no register (coils, writes,
  // out of range).
  std::vector<InspectorRow> InspectResponseLine(int line) const;
  // The address of the selected register of that line, if it shows one.
  std::optional<int32_t> ResponseLineAddress(int line) const;

  // ---- address notation (cmbAddresses) ----------------------------------------------------
  // The notation chosen in cmbAddresses.
  modbus::AddressNotation Addresses() const;
  // A protocol address as the view writes it in the chosen notation, for a
  // line of function `function` (its table names reference numbers).
  std::string NotationAddressText(int32_t function, int32_t protocol, bool hexStyle) const;
  // The selected register's address of a view line in the chosen notation
  // (the inspector's caption); empty when the line shows no register.
  std::string ResponseLineAddressText(int line) const;
  // In the reference notation, a typed reference number of another table than
  // the command's selects that table's read command and says so in one
  // information row. True when it changed the command.
  bool ApplyReferenceCommand();
  void cmbAddresses_Click();
  // The function of the last register read shown in the view (its table).
  int32_t ResponseRegistersFunction = 0;

  // ---- communication log ------------------------------------------------------------------
  void Log(const std::string& text, uint32_t Color = LogColorInfo);
  void LogRequest(const Frame& Data);
  void LogResponse(const Frame& Data);
  void LogError(const std::string& Class, const std::string& msg, bool ShowRx = false, int32_t HighlightLength = 0,
                int32_t HighlightOffset = 0);

  // The log as saved by the operator: the text exactly as shown, or CSV with
  // one record per entry. SaveLog writes the whole file or nothing (a
  // temporary file beside it, then renamed) and reports a failure in the log.
  const std::deque<LogRecord>& LogRecords() const { return logEntries_; }
  std::string LogAsCsv() const;
  bool SaveLog(const std::string& path, bool csv);

  // The continuous log file: with a path, every entry from now on is also
  // appended to it as it is written (text or CSV, rotated by size); an empty
  // path stops it. Stored in the settings "logfile" and "logfilecsv". A write
  // that fails is reported once as one error row; the pane goes on without the file.
  void SetLogFile(const std::string& path, bool csv);
  const std::string& LogFilePath() const { return logFileOptions_.path; }
  bool LogFileCsv() const { return logFileOptions_.csv; }
  // The rotation limits, for tests and tools: the size a file may reach, the rotated files kept.
  void SetLogFileRotation(uint64_t maxBytes, int32_t keepFiles);
  // What the pane holds and where older entries went: "1000 entries shown;
  // older ones are in /var/log/bus.log" (or "... older ones were dropped";
  // "... older ones were dropped: the log file failed"); "12 entries shown"
  // while nothing has been dropped.
  std::string LogHoldingText() const;

  // The session that carries the panel's requests (another requester can
  // take turns on the same link through it).
  engine::Session& LinkSession() { return *session_; }
  engine::RequesterId PanelRequester() const { return requester_; }

  // The platform parts, for the procedures that need them directly.
  const platform::Platform& Platform() const { return platform_; }

  // ---- the further commands (commands.cpp) -----------------------------------------
  // Shows, hides and captions the form's fields for the command chosen. True
  // for the commands beyond the seven basic ones.
  bool RefreshCommandFields();
  // The values of the further commands' fields into `rq`; false with the
  // reason in `refusal` when one of them is no value of its kind.
  bool ReadCommandFields(modbus::RequestValues& rq, std::string& refusal);
  // True when the command reads the start address field.
  static bool UsesAddress(int32_t function);
  // The largest quantity txtQuantity takes for the command and format chosen
  // (the values of a register read count by the format's registers).
  int32_t QuantityMax();
  // RefusalOf for the further commands' fields (empty for any other field).
  std::string CommandFieldRefusal(const TextBox& field);
  void txtValues_KeyPress(int16_t& KeyAscii);
  void txtWriteAddr_KeyPress(int16_t& KeyAscii);
  void txtAndMask_KeyPress(int16_t& KeyAscii);
  void txtOrMask_KeyPress(int16_t& KeyAscii);
  void txtObjectId_KeyPress(int16_t& KeyAscii);
  void txtValues_Validate(bool& Cancel);
  void txtWriteAddr_Validate(bool& Cancel);
  void txtAndMask_Validate(bool& Cancel);
  void txtOrMask_Validate(bool& Cancel);
  void txtObjectId_Validate(bool& Cancel);
  // A device identification answer that says more follows is followed by the
  // request for the next object, at most kMaxDeviceIdRounds requests in all
  // for one Send; DeviceIdRounds counts those of the Send in progress.
  static constexpr int32_t kMaxDeviceIdRounds = 16;
  int32_t DeviceIdRounds = 0;
  void FollowDeviceId(const Frame& answer, int16_t s, modbus::Mode framing);

  // ---- the watch list (watch_pane.cpp) -------------------------------------------
  // Blocks read at their own intervals in turn with the panel's own Send, over
  // the panel's session; their transactions are logged like the panel's.
  engine::WatchRunner& Watch() { return *watch_; }
  // Leaves the watch list's good transactions out of the log; faults stay.
  bool HideWatchGoodInLog = false;
  // "Add to watch": a block from the request's fields (function 01 to 04,
  // interval from txtPollInterval or 1000 ms). Its id, or 0 with the reason
  // logged.
  engine::WatchBlockId AddRequestToWatch();
  // Why the last "Add to watch" was refused; empty after one that was not.
  std::string WatchRefusal;
  // Workspace files (workspace_file.cpp): the link and request fields and
  // the watch list. Save writes the whole file or nothing; Open changes
  // nothing for a file it cannot read, and applies only the valid items of
  // one it can, logging each item left out. Both log a failure.
  bool SaveWorkspace(const std::string& path);
  bool OpenWorkspace(const std::string& path);
  // The watched values ticked for plotting, at most kMaxPlotted, in the
  // order they were ticked; and the plot's window in minutes (1 to 60).
  // Both are saved in the workspace.
  struct PlottedValue {
    engine::WatchBlockId block = 0;
    uint32_t address = 0;
    bool operator==(const PlottedValue&) const = default;
  };
  static constexpr size_t kMaxPlotted = 8;
  std::vector<PlottedValue> Plotted;
  int PlotWindowMinutes = 10;
  // Ticks or unticks a value. False when it is not a value of a watched
  // block, or when ticking it would plot more than kMaxPlotted.
  bool SetPlotted(engine::WatchBlockId block, uint32_t address, bool on);
  bool IsPlotted(engine::WatchBlockId block, uint32_t address) const;
  // Removes a block from the watch list with its plotted values.
  bool RemoveFromWatch(engine::WatchBlockId block);
  // Drops the plotted values whose block is gone or no longer has them (after an edit).
  void PrunePlotted();
  // Raised after a workspace has been opened.
  std::function<void()> onWorkspaceOpened;

 private:
  void SetDesignValues();
  void WireHandlers();

  void AppendLogEntry(const std::string& text, uint32_t Color, LogRecord record);
  // Raises onStatsChanged.
  void StatsChanged();
  // The index in ResponseRegisters of the selected register of a view line, or -1.
  int32_t ResponseRegisterIndex(int line) const;

  // The entries the log pane holds, oldest first. Each knows where it starts,
  // counted in characters ever written (logRemoved_ of them were removed from
  // the top since).
  std::deque<LogRecord> logEntries_;
  size_t logRemoved_ = 0;
  size_t lastResponseStart_ = static_cast<size_t>(-1);  // the entry LogResponse wrote last

  // ---- the engine behind the panel ----------------------------------------------
  // Makes the session (on comm1, ws and the timer fields), the panel's
  // requester and the poller.
  void StartEngine();
  // The link settings as the fields hold them now.
  engine::LinkSettings LinkSettingsNow() const;
  // The one place where the session's events become log rows, field states
  // and mirrors.
  void OnSessionEvent(const engine::Event& e);
  // The mirrors of the session's state: after every call into it.
  void SyncFromSession();
  // RxBuffer, RxCount, ProtocolErrors and ExpectedTransactionId from the answer being assembled.
  void MirrorReception();
  // An error row after the row of the bytes received for the request in flight (if any).
  void LogErrorShowing(const std::string& Class, const std::string& msg, const Frame& received);

  // Records the outcome of a value check of `field` and tells onRefusalChanged on a change.
  void SetRefusal(const TextBox& field, std::string reason);
  std::vector<std::pair<const TextBox*, std::string>> refusals_;
  LogFileOptions logFileOptions_;
  std::unique_ptr<LogFileWriter> logFile_;
  uint64_t logDropped_ = 0;  // entries removed from the pane

  platform::Platform platform_;
  std::shared_ptr<platform::TimerFactory> fieldTimers_;
  std::unique_ptr<engine::Session> session_;
  engine::RequesterId requester_ = 0;
  std::unique_ptr<engine::Poller> poller_;

  // The watch list's runner (after the session: it goes first) and its
  // request awaiting the outcome before it is logged.
  void StartWatch();
  void OnWatchEvent(const engine::Event& e);
  std::unique_ptr<engine::WatchRunner> watch_;
  Frame watchRequest_;
};
