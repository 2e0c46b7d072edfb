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
  ws.request.slave = ParseLong(TrimBlank(txtUnitID.Text()));
  if (cmbCmd.ListIndex() >= 0) ws.request.command = cmbCmd.ListIndex();
  ws.request.address = txtAddr.Text();
  ws.request.quantity = ParseLong(TrimBlank(txtQuantity.Text()));
  ws.request.value = txtValue.Text();
  if (cmbFormat.ListIndex() >= 0) ws.request.format = cmbFormat.ListIndex();
  ws.request.pollIntervalMs = ParseLong(TrimBlank(txtPollInterval.Text()));
  for (const engine::WatchBlock& b : watch_->Model().Blocks()) ws.watch.push_back(b.config);
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
  if (r.format) cmbFormat.SetListIndex(*r.format);
  if (r.pollIntervalMs) txtPollInterval.SetText(std::to_string(*r.pollIntervalMs));

  watch_->Clear();
  for (const engine::WatchBlockConfig& block : ws.watch) watch_->Add(block);
  Log("Workspace opened: " + path, LogColorInfo);
  return true;
}
