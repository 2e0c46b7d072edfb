// vesktarvelo-cli in the ASCII modes against the fault peer answering in
// ASCII: the frame it sends, the values of a good answer, and a bad LRC
// reported with the exit status of a protocol error.
#include <gtest/gtest.h>

#include <QProcess>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "peer_harness.h"

namespace {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// The program with `args`; bounded: killed after 15 s.
CliResult Cli(const QStringList& args) {
  QProcess p;
  p.start(VESK_CLI_PATH, args);
  CliResult r;
  if (!p.waitForFinished(15000)) {
    p.kill();
    p.waitForFinished(2000);
    return r;
  }
  r.status = p.exitCode();
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

TEST(CliAscii, ReadsAndReportsFaultsOverTcpAndOnAPseudoTerminal) {
  const std::string dir = vesk::test::MakeTempDir("vesk-cli-ascii");
  std::ofstream(dir + "/script.txt") << "reply 01 03 04 00 0A 00 0B LRC\nreply 01 03 04 00 0A 00 0B 00\n";
  vesk::test::PtyPair pair;
  ASSERT_TRUE(pair.Open());
  for (const bool serial : {false, true}) {
    SCOPED_TRACE(serial ? "serial" : "socket");
    vesk::test::PeerProcess peer;
    std::vector<std::string> args = {"--script", dir + "/script.txt", "--ascii", "--log", dir + "/requests.log"};
    if (serial) {
      args.insert(args.end(), {"--device", pair.B()});
    } else {
      args.insert(args.end(), {"--port", "0"});
    }
    std::remove((dir + "/requests.log").c_str());
    ASSERT_TRUE(peer.Start(VESK_FAULT_PEER_PATH, args, dir + "/stderr.txt"));
    const std::optional<std::string> ready = peer.WaitReady();
    ASSERT_TRUE(ready.has_value());
    QStringList link = serial ? QStringList{"--mode", "ascii", "--device", QString::fromStdString(pair.A())}
                              : QStringList{"--mode",    "ascii-over-tcp", "--host",
                                            "127.0.0.1", "--port",         QString::fromStdString(*ready)};
    const QStringList read = {"--slave", "1", "--function", "3", "--address", "0", "--quantity", "2"};

    const CliResult good = Cli(link + read);
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "00000: 10\n00001: 11\n");
    std::ifstream log(dir + "/requests.log");
    std::string request;
    std::getline(log, request);
    // ":010300000002FA" CR LF as the peer received it.
    EXPECT_EQ(request, "REQ 3A 30 31 30 33 30 30 30 30 30 30 30 32 46 41 0D 0A");

    const CliResult bad = Cli(link + read + QStringList{"--verbose"});
    EXPECT_EQ(bad.status, 6);  // a protocol error
    EXPECT_NE((bad.out + bad.err).find("Bad LRC (expected E3)"), std::string::npos) << bad.out << bad.err;
    peer.Stop();
  }
  vesk::test::RemoveTempDir(dir);
}

}  // namespace
