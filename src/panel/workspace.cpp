#include "panel/workspace.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <set>
#include <utility>

#include "common/json.h"
#include "modbus/formats.h"
#include "modbus/types.h"
using modbus::Format2B;
using modbus::kFormatNames;

namespace {

constexpr std::array<std::string_view, 5> kModeNames = {"RTU", "TCP", "RTU-OVER-TCP", "ASCII", "ASCII-OVER-TCP"};
constexpr std::array<std::string_view, 3> kParityNames = {"None", "Odd", "Even"};
// The function codes of the command list, by index (43 stands for 43/14).
constexpr std::array<int, 14> kCommandCodes = {1, 2, 3, 4, 5, 6, 16, 15, 22, 23, 43, 17, 7, 8};
constexpr size_t kWriteCoilsItem = 7;  // 15 Write Multiple Coils
// How the coil values of 15 are typed (cmbValuesAs).
constexpr std::array<std::string_view, 2> kValuesAsNames = {"list", "hex"};

std::string Range(int64_t lo, int64_t hi) { return "must be " + std::to_string(lo) + " to " + std::to_string(hi); }

// Reads the members of one object, collecting a message for each member that
// is present but not valid.
class Section {
 public:
  Section(const json::Value* object, std::string path, std::vector<std::string>& problems)
      : object_(object), path_(std::move(path)), problems_(problems) {}

  bool Has(std::string_view key) const { return object_ && object_->Find(key); }

  std::optional<int> Integer(std::string_view key, int64_t lo, int64_t hi) {
    const json::Value* v = Get(key);
    if (!v) return std::nullopt;
    if (const auto n = v->AsInteger(lo, hi)) return static_cast<int>(*n);
    const bool whole = v->IsNumber() && v->AsNumber() == std::floor(v->AsNumber());
    Problem(key,
            whole ? Range(lo, hi) : "must be a whole number from " + std::to_string(lo) + " to " + std::to_string(hi));
    return std::nullopt;
  }
  std::optional<std::string> Text(std::string_view key) {
    const json::Value* v = Get(key);
    if (!v) return std::nullopt;
    if (!v->IsString()) {
      Problem(key, "must be a text");
      return std::nullopt;
    }
    if (v->AsString().size() > kWorkspaceMaxText) {
      Problem(key, "must be at most " + std::to_string(kWorkspaceMaxText) + " bytes long");
      return std::nullopt;
    }
    return v->AsString();
  }
  std::optional<bool> Boolean(std::string_view key) {
    const json::Value* v = Get(key);
    if (!v) return std::nullopt;
    if (!v->IsBool()) {
      Problem(key, "must be true or false");
      return std::nullopt;
    }
    return v->AsBool();
  }
  // The index of the text among `names`.
  template <size_t N>
  std::optional<int> Choice(std::string_view key, const std::array<std::string_view, N>& names) {
    const json::Value* v = Get(key);
    if (!v) return std::nullopt;
    for (size_t i = 0; v->IsString() && i < N; ++i) {
      if (v->AsString() == names[i]) return static_cast<int>(i);
    }
    std::string list;
    for (size_t i = 0; i < N; ++i) list += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(names[i]);
    Problem(key, "must be " + list);
    return std::nullopt;
  }
  // A display format by name, among the first `count` of the list (the
  // request's field has them all, a watched block the 16- and 32-bit ones).
  std::optional<int> Format(std::string_view key, int count) {
    const json::Value* v = Get(key);
    if (!v) return std::nullopt;
    for (int i = 0; v->IsString() && i < count; ++i) {
      if (v->AsString() == modbus::FormatName(i)) return i;
    }
    Problem(key, count > modbus::kFormatCount ? "must name a display format such as INT16 or FLOAT_ABCD"
                                              : "must name a 16- or 32-bit display format such as INT16 or FLOAT_ABCD");
    return std::nullopt;
  }

  void Problem(std::string_view key, const std::string& message) {
    problems_.push_back("field '" + Path(key) + "' " + message);
  }
  std::string Path(std::string_view key) const {
    return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
  }

 private:
  const json::Value* Get(std::string_view key) const { return object_ ? object_->Find(key) : nullptr; }

  const json::Value* object_;
  std::string path_;
  std::vector<std::string>& problems_;
};

// The members `name` as an object section; a problem when it is something
// else.
const json::Value* SectionOf(const json::Value& doc, std::string_view name, std::vector<std::string>& problems) {
  const json::Value* v = doc.Find(name);
  if (!v) return nullptr;
  if (!v->IsObject()) {
    problems.push_back("field '" + std::string(name) + "' must be an object");
    return nullptr;
  }
  return v;
}

WorkspaceConnection ReadConnection(const json::Value* v, std::vector<std::string>& problems) {
  Section s(v, "connection", problems);
  WorkspaceConnection c;
  c.mode = s.Choice("mode", kModeNames);
  c.host = s.Text("host");
  c.port = s.Integer("port", 1, 65535);
  c.serialPort = s.Text("serialPort");
  c.speed = s.Integer("speed", 1, 4'000'000);
  c.parity = s.Choice("parity", kParityNames);
  if (const auto stop = s.Integer("stopBits", 1, 2)) c.stopBits = *stop - 1;
  c.tcpTimeoutMs = s.Integer("tcpTimeout", 1, 65535);
  c.rtuTimeoutMs = s.Integer("rtuTimeout", 1, 65535);
  return c;
}

WorkspaceRequest ReadRequest(const json::Value* v, std::vector<std::string>& problems) {
  Section s(v, "request", problems);
  WorkspaceRequest r;
  r.slave = s.Integer("slave", 1, 247);
  if (s.Has("command")) {
    const std::optional<int> code = s.Integer("command", 1, 43);
    const auto* it = code ? std::find(kCommandCodes.begin(), kCommandCodes.end(), *code) : kCommandCodes.end();
    if (it != kCommandCodes.end()) {
      r.command = static_cast<int>(it - kCommandCodes.begin());
    } else if (code) {
      s.Problem("command", "must be 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 22, 23 or 43");
    }
  }
  r.address = s.Text("address");
  // The quantity's range follows the command; without one, the widest range.
  // The register reads keep the 127 that older files may hold: the field's
  // own check then names the limit of the format chosen.
  const bool bitRead = !r.command || *r.command <= 1;
  const bool coilWrite = r.command && static_cast<size_t>(*r.command) == kWriteCoilsItem;
  r.quantity = s.Integer("quantity", 1, bitRead ? 2000 : coilWrite ? 1968 : 127);
  r.value = s.Text("value");
  r.values = s.Text("values");
  r.valuesAs = s.Choice("valuesAs", kValuesAsNames);
  r.writeAddress = s.Text("writeAddress");
  r.andMask = s.Text("andMask");
  r.orMask = s.Text("orMask");
  if (const auto code = s.Integer("readCode", 1, 4)) r.readCode = *code - 1;
  r.objectId = s.Text("objectId");
  r.format = s.Format("format", modbus::kAllFormatCount);
  r.hexView = s.Boolean("hexView");
  r.hexText = s.Text("hexText");
  r.pollIntervalMs =
      s.Integer("pollInterval", engine::WatchScheduler::kMinIntervalMs, engine::WatchScheduler::kMaxIntervalMs);
  return r;
}

// One block; nothing when any field is absent or out of range (a block is
// applied whole or not at all).
std::optional<engine::WatchBlockConfig> ReadBlock(const json::Value& v, const std::string& path,
                                                  std::vector<std::string>& problems) {
  if (!v.IsObject()) {
    problems.push_back("field '" + path + "' must be an object");
    return std::nullopt;
  }
  const size_t before = problems.size();
  Section s(&v, path, problems);
  for (const char* key : {"slave", "function", "address", "quantity"}) {
    if (!s.Has(key)) s.Problem(key, "is missing");
  }
  engine::WatchBlockConfig b;
  // The quantity's range depends on the function and format: CheckWatchBlock
  // below names it.
  const auto slave = s.Integer("slave", 1, 247);
  const auto function = s.Integer("function", 1, 4);
  const auto address = s.Integer("address", 0, 65535);
  const auto quantity = s.Integer("quantity", 1, 2000);
  const auto format = s.Format("format", modbus::kFormatCount);
  const auto interval =
      s.Integer("interval", engine::WatchScheduler::kMinIntervalMs, engine::WatchScheduler::kMaxIntervalMs);
  const auto paused = s.Boolean("paused");
  if (problems.size() != before) return std::nullopt;
  b.slave = static_cast<uint8_t>(*slave);
  b.function = static_cast<uint8_t>(*function);
  b.address = static_cast<uint16_t>(*address);
  b.quantity = static_cast<uint16_t>(*quantity);
  b.formatIndex = format.value_or(0);
  if (interval) b.intervalMs = static_cast<uint32_t>(*interval);
  b.paused = paused.value_or(false);
  if (const auto problem = engine::CheckWatchBlock(b)) {
    s.Problem(problem->field, problem->message);
    return std::nullopt;
  }
  return b;
}

// True when `address` is the address of one of the block's values.
bool BlockShows(const engine::WatchBlockConfig& b, uint32_t address) {
  if (address < b.address) return false;
  const uint32_t offset = address - b.address;
  if (engine::WatchReadsBits(b.function) || Format2B(b.formatIndex)) return offset < b.quantity;
  return offset % 2 == 0 && offset + 1 < b.quantity;
}

json::Value BlockToJson(const engine::WatchBlockConfig& b) {
  json::Value v;
  v.Set("slave", int{b.slave});
  v.Set("function", int{b.function});
  v.Set("address", int{b.address});
  v.Set("quantity", int{b.quantity});
  if (b.formatIndex >= 0 && static_cast<size_t>(b.formatIndex) < kFormatNames.size()) {
    v.Set("format", std::string(kFormatNames[static_cast<size_t>(b.formatIndex)]));
  }
  v.Set("interval", static_cast<int64_t>(b.intervalMs));
  v.Set("paused", b.paused);
  return v;
}

}  // namespace

WorkspaceLoad ParseWorkspace(std::string_view text) {
  WorkspaceLoad load;
  const json::ParseResult parsed = json::Parse(text);
  if (!parsed.value) {
    load.error = "not a workspace file: " + parsed.error + " at line " + std::to_string(parsed.line) + ", column " +
                 std::to_string(parsed.column);
    return load;
  }
  const json::Value& doc = *parsed.value;
  if (!doc.IsObject()) {
    load.error = "not a workspace file: the text is not a JSON object";
    return load;
  }
  const json::Value* type = doc.Find("type");
  if (!type || !type->IsString() || type->AsString() != kWorkspaceType) {
    load.error = "not a workspace file: \"type\" is not \"" + std::string(kWorkspaceType) + "\"";
    return load;
  }
  const json::Value* version = doc.Find("version");
  const std::optional<int64_t> v = version ? version->AsInteger(1, INT32_MAX) : std::nullopt;
  if (!v) {
    load.error = "not a workspace file: \"version\" is not a whole number from 1 on";
    return load;
  }
  if (*v > kWorkspaceVersion) {
    load.error = "workspace version " + std::to_string(*v) + " is newer than this program understands (" +
                 std::to_string(kWorkspaceVersion) + ")";
    return load;
  }

  Workspace ws;
  std::vector<std::string>& problems = load.problems;
  ws.connection = ReadConnection(SectionOf(doc, "connection", problems), problems);
  ws.request = ReadRequest(SectionOf(doc, "request", problems), problems);

  // The blocks; `kept[i]` is the index in ws.watch of the file's block i.
  std::vector<std::optional<size_t>> kept;
  if (const json::Value* watch = doc.Find("watch")) {
    if (!watch->IsArray()) {
      problems.push_back("field 'watch' must be an array");
    } else {
      const auto& blocks = watch->AsArray();
      for (size_t i = 0; i < blocks.size(); ++i) {
        if (i == kWorkspaceMaxBlocks) {
          problems.push_back("field 'watch' holds more than " + std::to_string(kWorkspaceMaxBlocks) +
                             " blocks: the rest are left out");
          break;
        }
        std::optional<engine::WatchBlockConfig> b = ReadBlock(blocks[i], "watch[" + std::to_string(i) + "]", problems);
        kept.push_back(b ? std::optional<size_t>(ws.watch.size()) : std::nullopt);
        if (b) ws.watch.push_back(*b);
      }
    }
  }

  if (const json::Value* plot = doc.Find("plot")) {
    if (!plot->IsArray()) {
      problems.push_back("field 'plot' must be an array");
    } else {
      std::set<std::pair<size_t, uint32_t>> seen;
      const auto& items = plot->AsArray();
      for (size_t i = 0; i < items.size(); ++i) {
        const std::string path = "plot[" + std::to_string(i) + "]";
        if (!items[i].IsObject()) {
          problems.push_back("field '" + path + "' must be an object");
          continue;
        }
        const size_t before = problems.size();
        Section s(&items[i], path, problems);
        for (const char* key : {"block", "address"}) {
          if (!s.Has(key)) s.Problem(key, "is missing");
        }
        const auto block = s.Integer("block", 0, static_cast<int64_t>(kWorkspaceMaxBlocks) - 1);
        const auto address = s.Integer("address", 0, 65535);
        if (problems.size() != before) continue;
        const size_t b = static_cast<size_t>(*block);
        if (b >= kept.size() || !kept[b]) {
          s.Problem("block", "names no block of the watch list");
          continue;
        }
        const WorkspacePlotted p{*kept[b], static_cast<uint32_t>(*address)};
        if (!BlockShows(ws.watch[p.block], p.address)) {
          s.Problem("address", "is not a value of block " + std::to_string(b));
        } else if (!seen.insert({p.block, p.address}).second) {
          problems.push_back("field '" + path + "' names a value already plotted");
        } else if (ws.plot.size() == kWorkspaceMaxPlotted) {
          problems.push_back("field '" + path + "' is left out: at most " + std::to_string(kWorkspaceMaxPlotted) +
                             " values are plotted");
        } else {
          ws.plot.push_back(p);
        }
      }
    }
  }
  ws.plotWindowMinutes = Section(&doc, "", problems).Integer("plotWindow", 1, 60);
  load.workspace = std::move(ws);
  return load;
}

std::string WorkspaceToJson(const Workspace& ws) {
  json::Value doc;
  doc.Set("type", std::string(kWorkspaceType));
  doc.Set("version", kWorkspaceVersion);

  const WorkspaceConnection& c = ws.connection;
  json::Value conn = json::Value::Object{};
  if (c.mode && *c.mode >= 0 && *c.mode < static_cast<int>(kModeNames.size()))
    conn.Set("mode", std::string(kModeNames[static_cast<size_t>(*c.mode)]));
  if (c.host) conn.Set("host", *c.host);
  if (c.port) conn.Set("port", *c.port);
  if (c.serialPort) conn.Set("serialPort", *c.serialPort);
  if (c.speed) conn.Set("speed", *c.speed);
  if (c.parity && *c.parity >= 0 && *c.parity < 3) {
    conn.Set("parity", std::string(kParityNames[static_cast<size_t>(*c.parity)]));
  }
  if (c.stopBits && (*c.stopBits == 0 || *c.stopBits == 1)) conn.Set("stopBits", *c.stopBits + 1);
  if (c.tcpTimeoutMs) conn.Set("tcpTimeout", *c.tcpTimeoutMs);
  if (c.rtuTimeoutMs) conn.Set("rtuTimeout", *c.rtuTimeoutMs);
  doc.Set("connection", std::move(conn));

  const WorkspaceRequest& r = ws.request;
  json::Value req = json::Value::Object{};
  if (r.slave) req.Set("slave", *r.slave);
  if (r.command && *r.command >= 0 && static_cast<size_t>(*r.command) < kCommandCodes.size()) {
    req.Set("command", kCommandCodes[static_cast<size_t>(*r.command)]);
  }
  if (r.address) req.Set("address", *r.address);
  if (r.quantity) req.Set("quantity", *r.quantity);
  if (r.value) req.Set("value", *r.value);
  if (r.values) req.Set("values", *r.values);
  if (r.valuesAs && (*r.valuesAs == 0 || *r.valuesAs == 1)) {
    req.Set("valuesAs", std::string(kValuesAsNames[static_cast<size_t>(*r.valuesAs)]));
  }
  if (r.writeAddress) req.Set("writeAddress", *r.writeAddress);
  if (r.andMask) req.Set("andMask", *r.andMask);
  if (r.orMask) req.Set("orMask", *r.orMask);
  if (r.readCode && *r.readCode >= 0 && *r.readCode < 4) req.Set("readCode", *r.readCode + 1);
  if (r.objectId) req.Set("objectId", *r.objectId);
  if (r.format && !modbus::FormatName(*r.format).empty()) {
    req.Set("format", std::string(modbus::FormatName(*r.format)));
  }
  if (r.hexView) req.Set("hexView", *r.hexView);
  if (r.hexText) req.Set("hexText", *r.hexText);
  if (r.pollIntervalMs) req.Set("pollInterval", *r.pollIntervalMs);
  doc.Set("request", std::move(req));

  json::Value watch = json::Value::Array{};
  for (const engine::WatchBlockConfig& b : ws.watch) watch.Push(BlockToJson(b));
  doc.Set("watch", std::move(watch));

  json::Value plot = json::Value::Array{};
  for (const WorkspacePlotted& p : ws.plot) {
    json::Value item;
    item.Set("block", static_cast<int64_t>(p.block));
    item.Set("address", static_cast<int64_t>(p.address));
    plot.Push(std::move(item));
  }
  doc.Set("plot", std::move(plot));
  if (ws.plotWindowMinutes) doc.Set("plotWindow", *ws.plotWindowMinutes);
  return json::Write(doc);
}
