// Back-to-back register reads through vesktarvelo-cli (the engine on the Qt
// adapters, one process polling with --interval 0) against the bundled slave
// over TCP, next to a plain libmodbus client doing the same reads in the
// same run. Prints both rates and their ratio, and a TABLE row for
// bench/RESULTS.md. Usage: bench_cli [reads per round] [rounds].
#include <fcntl.h>
#include <modbus.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "peer_harness.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Reads of 10 registers at 0, back to back; the rate, or 0 on a failure.
double LibmodbusRate(int port, long reads) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  if (ctx == nullptr || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
    std::fprintf(stderr, "libmodbus: cannot connect: %s\n", modbus_strerror(errno));
    if (ctx) modbus_free(ctx);
    return 0;
  }
  uint16_t regs[10];
  const auto start = Clock::now();
  for (long i = 0; i < reads; ++i) {
    if (modbus_read_registers(ctx, 0, 10, regs) != 10) {
      std::fprintf(stderr, "libmodbus read %ld failed: %s\n", i, modbus_strerror(errno));
      modbus_close(ctx);
      modbus_free(ctx);
      return 0;
    }
  }
  const double rate = static_cast<double>(reads) / Seconds(start);
  modbus_close(ctx);
  modbus_free(ctx);
  return rate;
}

// The same reads as one run of the program, its standard output (one line
// per register) thrown away; the rate over the whole run, start-up included.
double CliRate(int port, long reads) {
  const std::string portText = std::to_string(port), polls = std::to_string(reads);
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execl(VESK_CLI_PATH, VESK_CLI_PATH, "--host", "127.0.0.1", "--port", portText.c_str(), "--quantity", "10",
            "--polls", polls.c_str(), "--interval", "0", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) {
    std::fprintf(stderr, "vesktarvelo-cli ended with status %d\n", WIFEXITED(raw) ? WEXITSTATUS(raw) : -1);
    return 0;
  }
  return static_cast<double>(reads) / Seconds(start);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const long reads = argc > 1 ? std::atol(argv[1]) : 5000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  vesk::test::PeerProcess slave;
  if (!slave.Start(VESK_MODBUS_SLAVE_PATH, {"--tcp", "0"})) return 1;
  const auto ready = slave.WaitReady();
  if (!ready) {
    std::fprintf(stderr, "the slave did not start\n");
    return 1;
  }
  const int port = std::atoi(ready->c_str());
  std::vector<double> cli, peer;
  for (int r = 0; r < rounds; ++r) {
    peer.push_back(LibmodbusRate(port, reads));
    cli.push_back(CliRate(port, reads));
  }
  slave.Stop();
  const double c = Median(cli), p = Median(peer);
  if (c <= 0 || p <= 0) {
    std::printf("cli: FAILED (see the messages above)\n");
    std::printf("TABLE | Transactions/s, command-line client, TCP | FAILED | | |\n");
    return 1;
  }
  std::printf("cli: vesktarvelo-cli %.0f reads/s (median of %d runs of %ld reads, start-up included)\n", c, rounds,
              reads);
  std::printf("cli: libmodbus %.0f reads/s\n", p);
  std::printf("cli: ratio vesktarvelo-cli / libmodbus = %.2f\n", c / p);
  std::printf(
      "TABLE | Transactions/s, command-line client, TCP (median of %d runs of %ld) | %.0f /s | libmodbus: %.0f /s "
      "| %.2f |\n",
      rounds, reads, c, p, c / p);
  return 0;
}
