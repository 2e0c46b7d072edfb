// The JSON reader and writer, and workspace files: round trips, bad,
// truncated, hostile and newer files, and per-item problems.
#include "panel/workspace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/json.h"

namespace {

// What Parse makes of a text: the value written back compactly (blanks and line feeds outside strings removed), or
// the error and where it stands.
std::string ReadBack(const std::string& text) {
  const json::ParseResult r = json::Parse(text);
  if (!r.value) return r.error + " @" + std::to_string(r.line) + ":" + std::to_string(r.column);
  std::string compact;
  bool inString = false;
  for (char ch : json::Write(*r.value)) {
    if (ch == '"' && (compact.empty() || compact.back() != '\\')) inString = !inString;
    if (inString || (ch != ' ' && ch != '\n')) compact += ch;
  }
  return compact;
}

TEST(Json, ReadsExactlyTheGrammarAndSaysWhereItStops) {
  const std::pair<std::string, std::string> cases[] = {
      {R"( {"a" : [1, 2.5, -0, 1E3, true, false, null, "x"], "b": {}} )",
       R"({"a":[1,2.5,0,1000,true,false,null,"x"],"b":{}})"},
      {R"(["\"\\\/\b\f\n\r\t", "\u00e9\u20AC", "\ud83d\ude00", "é", "\u0000"])",
       "[\"\\\"\\\\/\\b\\f\\n\\r\\t\",\"é€\",\"😀\",\"é\",\"\\u0000\"]"},
      {"1.7976931348623157e308", "1.7976931348623157e+308"},
      {"-9007199254740993", "-9007199254740992"},
      {"[1,]", "unexpected character @1:4"},
      {R"({"a":1,})", "expected a string as object key @1:8"},
      {R"({"a" 1})", "expected ':' after an object key @1:6"},
      {"[1 2]", "expected ',' or ']' in an array @1:4"},
      {"01", "leading zero in a number @1:2"},
      {"1.", "digits expected after '.' @1:3"},
      {"1e+", "digits expected in the exponent @1:4"},
      {"-", "unexpected end of the text @1:2"},
      {"-x", "unexpected character @1:1"},
      {"[1e400, -0.001e312, 1E-400, -0.01e-322, 1000000e-330]", "[1e400,-0.001e312,0,0,0]"},
      {R"("\ud800")", "high surrogate without a low one in a \\u escape @1:2"},
      {R"("\ud800\u0041")", "high surrogate without a low one in a \\u escape @1:2"},
      {R"(["ok", "\udc00"])", "lone low surrogate in a \\u escape @1:9"},
      {R"("\u12G4")", "\\u needs four hexadecimal digits @1:4"},
      {R"("\x")", "unknown escape in a string @1:2"},
      {"\"a\nb\"", "control character in a string @1:3"},
      {"\"\xC0\xAF\"", "invalid UTF-8 in a string @1:2"},
      {"\"\xED\xA0\x80\"", "invalid UTF-8 in a string @1:2"},
      {"\"\xF4\x90\x80\x80\"", "invalid UTF-8 in a string @1:2"},
      {"\"\xE2\x82\"", "invalid UTF-8 in a string @1:2"},
      {R"({"a":1,"a":2})", "duplicate key \"a\" @1:8"},
      {"", "unexpected end of the text @1:1"},
      {"[", "unexpected end of the text @1:2"},
      {R"(["abc)", "unterminated string @1:6"},
      {"1 2", "unexpected text after the value @1:3"},
      {"{\n  \"a\": tru\n}", "unexpected character @2:8"},
      {"// note\n1", "unexpected character @1:1"},
      {"\xEF\xBB\xBF{}", "a byte order mark is not allowed @1:1"},
      {"NaN", "unexpected character @1:1"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ReadBack(text), expected) << text;
}

TEST(Json, HostileInputIsBoundedBySizeDepthAndCount) {
  const auto repeat = [](const std::string& part, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += part;
    return s;
  };
  const size_t maxBytes = json::Limits().maxBytes;
  const std::pair<std::string, std::string> cases[] = {
      // the text, and the error ("" when it must be read)
      {repeat("[", 64) + repeat("]", 64), ""},
      {repeat("[", 65) + repeat("]", 65), "nested deeper than 64 levels"},
      {std::string(1'000'000, '['), "nested deeper than 64 levels"},
      {repeat("{\"a\":", 64) + "1" + repeat("}", 64), ""},
      {repeat("{\"a\":", 65) + "1" + repeat("}", 65), "nested deeper than 64 levels"},
      {"\"" + std::string(maxBytes - 2, 'x') + "\"", ""},
      {"\"" + std::string(maxBytes - 1, 'x') + "\"", "the text is longer than 1048576 bytes"},
      {"[0" + repeat(",0", 100'000) + "]", "more than 100000 values"},
  };
  for (const auto& [text, error] : cases) {
    const json::ParseResult r = json::Parse(text);
    EXPECT_EQ(std::make_pair(r.error, r.value.has_value()), std::make_pair(error, error.empty())) << text.size();
  }
}

TEST(Json, WrittenTextReadsBackToTheSameValue) {
  json::Value v;
  v.Set("texts",
        json::Value::Array{"", "\x01\x1f\x7f", "quote \" back \\ slash /", "\t\r\n", "ü€😀", std::string("nul\0in", 6)});
  v.Set("numbers", json::Value::Array{0.1, -5, 1e300, 5e-324, 9007199254740994.0, 123456789012.5, -0.0});
  v.Set("nested",
        json::Value::Object{
            {"a", json::Value::Array{json::Value::Object{}, json::Value::Array{}}}, {"b", nullptr}, {"c", true}});
  const json::ParseResult back = json::Parse(json::Write(v));
  ASSERT_TRUE(back.value) << back.error;
  EXPECT_EQ(*back.value, v);

  // What JSON cannot hold is written so that it still reads back.
  const json::ParseResult lossy = json::Parse(json::Write(json::Value::Array{NAN, INFINITY, "bad \xC3 byte"}));
  ASSERT_TRUE(lossy.value) << lossy.error;
  EXPECT_EQ(*lossy.value, (json::Value::Array{nullptr, nullptr, "bad \xEF\xBF\xBD byte"}));
}

// ---- workspace files ----

Workspace Full() {
  Workspace ws;
  ws.connection = {2, "192.0.2.7", 1502, "/dev/ttyUSB0", 19200, 2, 1, 1500, 800};
  ws.request = {17,  6,       "0x1F", 10,     "-1.5",   25,       true, "01 03 00 00 00 0A C5 CD",
                250, "1 0 1", 1,      "0x20", "0xFF00", "0x0012", 2,    "0x80"};
  engine::WatchBlockConfig a{1, 3, 0, 10, 0, 100, false};
  engine::WatchBlockConfig b{247, 4, 65534, 2, 2, 65535, true};
  engine::WatchBlockConfig c{2, 1, 100, 2000, 5, 1000, false};
  ws.watch = {a, b, c};
  ws.plot = {{0, 9}, {1, 65534}, {2, 2099}};
  ws.plotWindowMinutes = 60;
  return ws;
}

TEST(Workspace, RoundTripsEveryFieldAndAnEmptyWorkspace) {
  for (const Workspace& ws : {Full(), Workspace{}}) {
    const std::string text = WorkspaceToJson(ws);
    const WorkspaceLoad load = ParseWorkspace(text);
    ASSERT_TRUE(load.workspace) << load.error;
    EXPECT_EQ(load.problems, std::vector<std::string>{});
    EXPECT_EQ(*load.workspace, ws) << text;
    EXPECT_EQ(WorkspaceToJson(*load.workspace), text);
  }
  Workspace device;
  device.request.command = 10;  // the eleventh item, 43/14 Read Device Identification
  const std::string text = WorkspaceToJson(Full()) + WorkspaceToJson(device);
  for (const char* shown : {"\"mode\": \"RTU-OVER-TCP\"", "\"parity\": \"Even\"", "\"stopBits\": 2", "\"command\": 16",
                            "\"format\": \"DOUBLE_HGFEDCBA\"", "\"version\": 1", "\"valuesAs\": \"hex\"",
                            "\"readCode\": 3", "\"command\": 43"})
    EXPECT_NE(text.find(shown), std::string::npos) << shown;
}

TEST(Workspace, FilesThatAreNotWorkspacesOrTooNewChangeNothing) {
  const std::string head = R"({"type": "VeskTarvelo workspace", )";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "not a workspace file: unexpected end of the text at line 1, column 1"},
      {"[1, 2]", "not a workspace file: the text is not a JSON object"},
      {R"({"version": 1})", "not a workspace file: \"type\" is not \"VeskTarvelo workspace\""},
      {R"({"type": "other", "version": 1})", "not a workspace file: \"type\" is not \"VeskTarvelo workspace\""},
      {head + "\"version\": 0}", "not a workspace file: \"version\" is not a whole number from 1 on"},
      {head + "\"version\": \"1\"}", "not a workspace file: \"version\" is not a whole number from 1 on"},
      {head + "\"version\": 1.5}", "not a workspace file: \"version\" is not a whole number from 1 on"},
      {head + "\"connection\": {}}", "not a workspace file: \"version\" is not a whole number from 1 on"},
      {head + "\"version\": 3}", "workspace version 3 is newer than this program understands (1)"},
      {head + "\"version\": 1e300}", "not a workspace file: \"version\" is not a whole number from 1 on"},
      {head + "\"version\": 1e999}", "not a workspace file: \"version\" is not a whole number from 1 on"},
      {head + "\"version\": 1, \"watch\": " + std::string(100, '[') + std::string(100, ']') + "}",
       "not a workspace file: nested deeper than 64 levels at line 1, column 121"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 80));
    const WorkspaceLoad load = ParseWorkspace(c.text);
    EXPECT_FALSE(load.workspace);
    EXPECT_EQ(load.error, c.error);
  }
  // Every cut of a saved file is refused as a whole, never half applied.
  const std::string full = WorkspaceToJson(Full());
  const size_t end = full.find_last_of('}');
  for (size_t cut = 0; cut < end; cut += 7) {
    const WorkspaceLoad load = ParseWorkspace(full.substr(0, cut));
    EXPECT_FALSE(load.workspace) << "cut at " << cut;
    EXPECT_EQ(load.error.rfind("not a workspace file: ", 0), 0u) << "cut at " << cut;
  }
}

TEST(Workspace, InvalidItemsAreLeftOutAndNamedWhileTheRestApplies) {
  const std::string head = R"({"type": "VeskTarvelo workspace", "version": 1, )";
  const auto block = [](const std::string& members) { return "{" + members + "}"; };
  const std::string good = R"("slave": 1, "function": 3, "address": 10, "quantity": 4)";
  const struct {
    const char* name;
    size_t blocks, plotted;  // kept
    std::string body;
    std::vector<std::string> problems;
  } cases[] = {
      {"connection fields one by one",
       0,
       0,
       R"("connection": {"mode": "UDP", "host": 7, "port": 0, "speed": 4000001, "parity": "Mark", "stopBits": 1.5,
          "tcpTimeout": 65536, "rtuTimeout": 1, "serialPort": "/dev/ttyS0"})",
       {"field 'connection.mode' must be RTU, TCP, RTU-OVER-TCP, ASCII or ASCII-OVER-TCP",
        "field 'connection.host' must be a text", "field 'connection.port' must be 1 to 65535",
        "field 'connection.speed' must be 1 to 4000000", "field 'connection.parity' must be None, Odd or Even",
        "field 'connection.stopBits' must be a whole number from 1 to 2",
        "field 'connection.tcpTimeout' must be 1 to 65535"}},
      {"request fields",
       0,
       0,
       R"("request": {"slave": 248, "command": 9, "quantity": 200, "valuesAs": "bits", "readCode": 5, "format": "INT64", "hexView": "yes",
          "pollInterval": 99, "hexText": ")" +
           std::string(4097, 'A') + R"("})",
       {"field 'request.slave' must be 1 to 247",
        "field 'request.command' must be 1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17, 22, 23 or 43",
        "field 'request.valuesAs' must be list or hex", "field 'request.readCode' must be 1 to 4",
        "field 'request.format' must name a display format such as INT16 or FLOAT_ABCD",
        "field 'request.hexView' must be true or false", "field 'request.hexText' must be at most 4096 bytes long",
        "field 'request.pollInterval' must be 100 to 65535"}},
      {"the quantity's range follows the command",
       0,
       0,
       R"("request": {"command": 3, "quantity": 128})",
       {"field 'request.quantity' must be 1 to 127"}},
      {"... up to 1968 coils written with 15",
       0,
       0,
       R"("request": {"command": 15, "quantity": 1969})",
       {"field 'request.quantity' must be 1 to 1968"}},
      {"sections of the wrong kind",
       0,
       0,
       R"("connection": [], "request": 1, "watch": {}, "plot": "x", "plotWindow": 0)",
       {"field 'connection' must be an object", "field 'request' must be an object", "field 'watch' must be an array",
        "field 'plot' must be an array", "field 'plotWindow' must be 1 to 60"}},
      {"bad blocks left out, good ones kept",
       2,
       0,
       R"("watch": [)" + block(good) + "," + block(R"("slave": 1, "function": 3, "address": 0, "quantity": 126)") +
           "," + block(R"("slave": 1, "function": 3, "address": 0)") + ",7," +
           block(R"("slave": 1, "function": 4, "address": 65535, "quantity": 2, "format": "FLOAT_ABCD")") + "," +
           block(R"("slave": 1, "function": 3, "address": 0, "quantity": 1e999, "interval": 50, "paused": 0)") + "," +
           block(good + R"(, "format": "FLOAT_ABCD", "interval": 65535, "paused": true)") + "]",
       {"field 'watch[1].quantity' must be 1 to 125", "field 'watch[2].quantity' is missing",
        "field 'watch[3]' must be an object", "field 'watch[4].quantity' cannot be read from address 65535",
        "field 'watch[5].quantity' must be 1 to 2000", "field 'watch[5].interval' must be 100 to 65535",
        "field 'watch[5].paused' must be true or false"}},
      {"plotted values must name a kept block's value, once, at most eight",
       2,
       8,
       R"("watch": [)" + block(good) + "," + block(R"("slave": 0, "function": 3, "address": 0, "quantity": 1)") + "," +
           block(R"("slave": 1, "function": 3, "address": 100, "quantity": 20, "format": "FLOAT_CDAB")") +
           R"(], "plot": [{"block": 0, "address": 10}, {"block": 1, "address": 0}, {"block": 3, "address": 0},
           {"block": 0, "address": 14}, {"block": 2, "address": 101}, {"block": 0, "address": 10}, {"block": 0},
           {"block": 2, "address": 100}, {"block": 2, "address": 102}, {"block": 2, "address": 104},
           {"block": 2, "address": 106}, {"block": 2, "address": 108}, {"block": 2, "address": 118},
           {"block": 2, "address": 110}, {"block": 2, "address": 112}, 5])",
       {"field 'watch[1].slave' must be 1 to 247", "field 'plot[1].block' names no block of the watch list",
        "field 'plot[2].block' names no block of the watch list", "field 'plot[3].address' is not a value of block 0",
        "field 'plot[4].address' is not a value of block 2", "field 'plot[5]' names a value already plotted",
        "field 'plot[6].address' is missing", "field 'plot[14]' is left out: at most 8 values are plotted",
        "field 'plot[15]' must be an object"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const WorkspaceLoad load = ParseWorkspace(head + c.body + "}");
    ASSERT_TRUE(load.workspace) << load.error;
    EXPECT_EQ(load.problems, c.problems);
    EXPECT_EQ(std::make_pair(load.workspace->watch.size(), load.workspace->plot.size()),
              std::make_pair(c.blocks, c.plotted));
  }
  // What was valid beside the bad fields is there; the file's block 2 is the second kept block.
  const WorkspaceLoad load = ParseWorkspace(
      head + R"("connection": {"port": 0, "host": "h", "stopBits": 2}, "request": {"slave": 0, "address": "0x10"},
                "watch": [{"slave": 5, "function": 3, "address": 0, "quantity": 1}, {"slave": 5},
                          {"slave": 6, "function": 2, "address": 8, "quantity": 3}],
                "plot": [{"block": 2, "address": 10}]})");
  ASSERT_TRUE(load.workspace);
  const Workspace& ws = *load.workspace;
  EXPECT_EQ(std::make_tuple(ws.connection.host, ws.connection.stopBits, ws.connection.port.has_value(),
                            ws.request.address, ws.request.slave.has_value()),
            std::make_tuple(std::string("h"), 1, false, std::string("0x10"), false));
  ASSERT_EQ(ws.watch.size(), 2u);
  EXPECT_EQ(std::make_pair(ws.watch[1].slave, ws.watch[1].intervalMs), std::make_pair(uint8_t(6), 1000u));
  EXPECT_EQ(ws.plot, (std::vector<WorkspacePlotted>{{1, 10}}));
}

}  // namespace
