// Workspace files on the panel: the link and request fields and the watch
// list written to a file whole or not at all, and read back applying only
// what is valid.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/module1.h"
#include "common/number_text.h"
#include "panel/frmMain.h"
#include "panel/workspace.h"

bool frmMain::SaveWorkspace(const std::string& path) {
  namespace fs = std::filesystem;
  Workspace ws;
  ws.connection.mode = Mode;
  ws.connection.host = txtTcpHost.Text();
  ws.connection.port = ParseLong(TrimBlank(txtTcpPort.Text()));
  if (cmbRtuPort.ListIndex() >= 0) ws.connection.serialPort = cmbRtuPort.Text();
  ws.connection.tcpTimeoutMs = ParseLong(TrimBlank(txtTcpTimeout.Text()));
  ws.connection.rtuTimeoutMs = ParseLong(TrimBlank(txtRtuTimeout.Text()));
  ws.connection.speed = ParseLong(TrimBlank(cmbRtuSpeed.Text()));
  if (cmbRtuParity.ListIndex() >= 0) ws.connection.parity = cmbRtuParity.ListIndex();
  if (cmbRtuStopBit.ListIndex() >= 0) ws.connection.stopBits = cmbRtuStopBit.ListIndex();
  ws.request.slave = ParseLong(TrimBlank(txtUnitID.Text()));
  if (cmbCmd.ListIndex() >= 0) ws.request.command = cmbCmd.ListIndex();
  ws.request.address = txtAddr.Text();
  ws.request.quantity = ParseLong(TrimBlank(txtQuantity.Text()));
  ws.request.value = txtValue.Text();
  ws.request.values = txtValues.Text();
  if (cmbValuesAs.ListIndex() >= 0) ws.request.valuesAs = cmbValuesAs.ListIndex();
  ws.request.writeAddress = txtWriteAddr.Text();
  ws.request.andMask = txtAndMask.Text();
  ws.request.orMask = txtOrMask.Text();
  if (cmbReadCode.ListIndex() >= 0) ws.request.readCode = cmbReadCode.ListIndex();
  ws.request.objectId = txtObjectId.Text();
  if (cmbFormat.ListIndex() >= 0) ws.request.format = cmbFormat.ListIndex();
  ws.request.pollIntervalMs = ParseLong(TrimBlank(txtPollInterval.Text()));
  ws.request.hexView = HexView;
  ws.request.hexText = txtHEX.Text();
  PrunePlotted();
  const std::vector<engine::WatchBlock>& blocks = watch_->Model().Blocks();
  for (const engine::WatchBlock& b : blocks) ws.watch.push_back(b.config);
  for (const PlottedValue& p : Plotted) {
    for (size_t i = 0; i < blocks.size(); ++i)
      if (blocks[i].id == p.block) ws.plot.push_back({i, p.address});
  }
  ws.plotWindowMinutes = PlotWindowMinutes;
  const std::string content = WorkspaceToJson(ws);

  fs::path temp(path);
  temp += ".part";
  std::string reason;
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      reason = "cannot write " + temp.string();
    } else {
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
      out.close();
      if (!out) reason = "write failed";
    }
  }
  if (reason.empty()) {
    std::error_code ec;
    fs::rename(temp, fs::path(path), ec);
    if (ec) reason = ec.message();
  }
  if (reason.empty()) return true;
  std::error_code ignored;
  fs::remove(temp, ignored);
  Log("Failed to save the workspace to " + path + ": " + reason, LogColorError);
  return false;
}

bool frmMain::OpenWorkspace(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Log("Workspace not opened: cannot read " + path, LogColorError);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const WorkspaceLoad load = ParseWorkspace(text.str());
  if (!load.workspace) {
    Log("Workspace not opened: " + load.error, LogColorError);
    return false;
  }
  const Workspace& ws = *load.workspace;
  for (const std::string& problem : load.problems) Log("Workspace: " + problem + " (left as it was)", LogColorError);

  const WorkspaceConnection& c = ws.connection;
  if (c.mode) cmbMode.SetListIndex(*c.mode);
  if (c.host) txtTcpHost.SetText(*c.host);
  if (c.port) txtTcpPort.SetText(std::to_string(*c.port));
  if (c.tcpTimeoutMs) txtTcpTimeout.SetText(std::to_string(*c.tcpTimeoutMs));
  if (c.rtuTimeoutMs) txtRtuTimeout.SetText(std::to_string(*c.rtuTimeoutMs));
  if (c.speed) cmbRtuSpeed.SetText(std::to_string(*c.speed));
  if (c.parity) cmbRtuParity.SetListIndex(*c.parity);
  if (c.stopBits) cmbRtuStopBit.SetListIndex(*c.stopBits);
  if (c.serialPort && !c.serialPort->empty()) {
    int found = -1;
    for (int i = 0; i < cmbRtuPort.ListCount(); ++i)
      if (cmbRtuPort.List(i) == *c.serialPort) found = i;
    if (found >= 0)
      cmbRtuPort.SetListIndex(found);
    else
      Log("Workspace: serial port " + *c.serialPort + " is not on this system (left as it was)", LogColorError);
  }

  const WorkspaceRequest& r = ws.request;
  if (r.slave) txtUnitID.SetText(std::to_string(*r.slave));
  if (r.command) cmbCmd.SetListIndex(*r.command);
  if (r.address) txtAddr.SetText(*r.address);
  if (r.quantity) txtQuantity.SetText(std::to_string(*r.quantity));
  if (r.value) txtValue.SetText(*r.value);
  if (r.values) txtValues.SetText(*r.values);
  if (r.valuesAs) cmbValuesAs.SetListIndex(*r.valuesAs);
  if (r.writeAddress) txtWriteAddr.SetText(*r.writeAddress);
  if (r.andMask) txtAndMask.SetText(*r.andMask);
  if (r.orMask) txtOrMask.SetText(*r.orMask);
  if (r.readCode) cmbReadCode.SetListIndex(*r.readCode);
  if (r.objectId) txtObjectId.SetText(*r.objectId);
  if (r.format) cmbFormat.SetListIndex(*r.format);
  if (r.pollIntervalMs) txtPollInterval.SetText(std::to_string(*r.pollIntervalMs));
  if (r.hexText) txtHEX.SetText(*r.hexText);
  // The view last: switching to the raw request shows the text just set.
  if (r.hexView && *r.hexView != HexView) (*r.hexView ? optHEX : optFORM).SetValue(true);

  watch_->Clear();
  std::vector<engine::WatchBlockId> ids;
  for (const engine::WatchBlockConfig& block : ws.watch) ids.push_back(watch_->Add(block));
  Plotted.clear();
  for (const WorkspacePlotted& p : ws.plot)
    if (p.block < ids.size() && ids[p.block] != 0) SetPlotted(ids[p.block], p.address, true);
  if (ws.plotWindowMinutes) PlotWindowMinutes = *ws.plotWindowMinutes;
  Log("Workspace opened: " + path, LogColorInfo);
  if (onWorkspaceOpened) onWorkspaceOpened();
  return true;
}
