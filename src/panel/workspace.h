#pragma once
// Workspace files: the connection settings, the request fields, the watch
// list and the plotted values, as a versioned JSON document.
//
// Reading is per item: a field or block that is out of range is left out and
// named in `problems`, so the caller can apply what is valid. Fields that are
// absent are simply not applied. Writing the file whole or not at all is the
// caller's job.
//
//   {"type": "VeskTarvelo workspace", "version": 1,
//    "connection": {"mode": "TCP", "host": "127.0.0.1", "port": 502, "serialPort": "",
//                   "speed": 9600, "parity": "None", "stopBits": 1, "tcpTimeout": 1000, "rtuTimeout": 1000},
//    "request": {"slave": 1, "command": 3, "address": "0", "quantity": 10, "value": "0", "format": "INT16",
//                "hexView": false, "hexText": "", "pollInterval": 1000},
//    "watch": [{"slave": 1, "function": 4, "address": 100, "quantity": 4, "format": "FLOAT_ABCD",
//               "interval": 1000, "paused": false}],
//    "plot": [{"block": 0, "address": 102}],
//    "plotWindow": 10}
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/watch_model.h"

inline constexpr int kWorkspaceVersion = 1;
// The document's "type", which tells a workspace from any other JSON file.
inline constexpr std::string_view kWorkspaceType = "VeskTarvelo workspace";
inline constexpr size_t kWorkspaceMaxBlocks = 256;
inline constexpr size_t kWorkspaceMaxPlotted = 8;
inline constexpr size_t kWorkspaceMaxText = 4096;

struct WorkspaceConnection {
  std::optional<int> mode;  // 0 RTU, 1 TCP, 2 RTU-OVER-TCP (written as those names)
  std::optional<std::string> host;
  std::optional<int> port;  // 1..65535
  std::optional<std::string> serialPort;
  std::optional<int> speed;         // bits per second, 1..4000000
  std::optional<int> parity;        // 0 None, 1 Odd, 2 Even (written as those names)
  std::optional<int> stopBits;      // 0 one, 1 two (the list index; written as 1 or 2)
  std::optional<int> tcpTimeoutMs;  // 1..65535
  std::optional<int> rtuTimeoutMs;  // 1..65535

  bool operator==(const WorkspaceConnection&) const = default;
};

struct WorkspaceRequest {
  std::optional<int> slave;            // 1..247
  std::optional<int> command;          // index of the command list 0..13 (written as the function code)
  std::optional<std::string> address;  // as typed: decimal, or hexadecimal such as 0x1F
  std::optional<int> quantity;         // 1..2000 for bit reads, 1..1968 for 15, 1..127 otherwise
  std::optional<std::string> value;    // as typed
  std::optional<int> format;           // display format index 0..28 (written as its name)
  std::optional<bool> hexView;
  std::optional<std::string> hexText;  // the raw request as typed
  std::optional<int> pollIntervalMs;   // 100..65535
  // The further commands' fields, as typed: the values of 15, 23 and 08 and
  // how 15's are typed (0 list, 1 hex, written "list" / "hex"); 23's write
  // address; 22's masks; 43/14's read code (index 0..3, written as the code
  // 1..4) and first object.
  std::optional<std::string> values;
  std::optional<int> valuesAs;
  std::optional<std::string> writeAddress, andMask, orMask;
  std::optional<int> readCode;
  std::optional<std::string> objectId;

  bool operator==(const WorkspaceRequest&) const = default;
};

// A plotted value: a block of the watch list (its index) and the value's
// address within it.
struct WorkspacePlotted {
  size_t block = 0;
  uint32_t address = 0;

  bool operator==(const WorkspacePlotted&) const = default;
};

struct Workspace {
  WorkspaceConnection connection;
  WorkspaceRequest request;
  std::vector<engine::WatchBlockConfig> watch;
  std::vector<WorkspacePlotted> plot;    // indexes into `watch`
  std::optional<int> plotWindowMinutes;  // 1..60

  bool operator==(const Workspace&) const = default;
};

struct WorkspaceLoad {
  // Nothing when the text is not a workspace this program can read; then
  // `error` says why: "not a workspace file: ...", or "workspace version 3 is
  // newer than this program understands (1)".
  std::optional<Workspace> workspace;
  std::string error;
  // The items left out, one message each: "field 'watch[2].quantity' must be
  // 1 to 125". Blocks left out are not in `workspace->watch`; plotted values
  // that named them are left out too.
  std::vector<std::string> problems;
};

WorkspaceLoad ParseWorkspace(std::string_view text);
std::string WorkspaceToJson(const Workspace& ws);
