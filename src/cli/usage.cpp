// The --help text. Kept beside the man page (docs/man/vesktarvelo-cli.1):
// a new option goes into both.
#include "cli/options.h"

namespace cli {

std::string CliUsage() {
  return R"(Usage: vesktarvelo-cli [OPTION]...
Sends Modbus requests as a master over TCP, RTU on a serial port, RTU over TCP
or ASCII, checks every answer byte by byte and prints the values.

Link:
  -m, --mode MODE         tcp (default), rtu, rtu-over-tcp, ascii or
                          ascii-over-tcp; ascii goes over --device, or over
                          --host when no device is given
  -H, --host HOST         the slave's host name or IP address (tcp,
                          rtu-over-tcp, ascii-over-tcp, ascii without --device)
  -p, --port PORT         TCP port, 1 to 65535 (default 502)
  -d, --device PATH       serial port, e.g. /dev/ttyUSB0 (rtu, ascii)
  -b, --baud RATE         50 to 4000000 (default 9600)
      --parity P          none (default), even or odd
      --data-bits N       7 (ascii only) or 8 (default 8)
      --stop-bits N       1 (default) or 2
  -o, --timeout MS        answer time-out, 1 to 65535 ms (default 1000)

Request:
  -s, --slave N           slave address 0 to 255 (default 1); 0 broadcasts and
                          is for writes only
  -f, --function CODE     function code in decimal (default 3):
                           1 read coils              2 read discrete inputs
                           3 read holding registers  4 read input registers
                           5 write one coil          6 write one register
                           7 read exception status   8 diagnostics (echo)
                          15 write coils            16 write registers
                          17 report server id       22 mask write register
                          23 read/write registers   43 read device id
  -a, --address ADDR      start address in the notation of --addresses
                          (decimal, or 0x hexadecimal: then shown in hex)
  -q, --quantity N        coils, inputs or registers (not values) to read:
                          bits 1 to 2000, registers 1 to 125; default one value
  -w, --values LIST       comma-separated values to write in --type: coils 0
                          or 1 (1 to 1968), registers 1 to 123 (23: 1 to 121);
                          0x... gives a value's bit pattern; ASCII takes the
                          whole text; for 8 the data words
  -t, --type TYPE         INT16 (default), UINT16, FLOAT_ABCD, FLOAT_CDAB,
                          FLOAT_BADC, FLOAT_DCBA, INT32_ABCD ... INT32_DCBA,
                          UINT32_ABCD ... UINT32_DCBA, INT64_ABCDEFGH,
                          INT64_GHEFCDAB, INT64_BADCFEHG, INT64_HGFEDCBA,
                          UINT64_..., DOUBLE_... (same four orders), HEX,
                          BINARY, ASCII; the letters give the byte order on
                          the wire, A the most significant byte
      --and-mask M        22: the AND mask (decimal or 0x hexadecimal)
      --or-mask M         22: the OR mask
      --write-address A   23: start of the write block (--address and
                          --quantity give the read block, --values the data)
      --read-code N       43: 1 basic (default), 2 regular, 3 extended, 4 one
                          object
      --object-id N       43: the first object (default 0)
      --addresses NOTE    protocol (default: from 0, as on the wire), one
                          (register numbers from 1) or reference (00001-09999
                          coils, 10001 inputs, 30001 input and 40001 holding
                          registers, or the 6-digit 400001-465536 form; a
                          reference without --function picks the read)
  -r, --raw BYTES         send these hexadecimal bytes as typed: the whole
                          frame, its MBAP header or CRC included, e.g.
                          "00 01 00 00 00 06 01 03 00 00 00 0A" over TCP;
                          in ascii the bytes, slave to LRC, go out as
                          characters between ':' and CR LF

Run and output:
  -n, --polls N           transactions to run, 0 = until interrupted (default 1)
  -i, --interval MS       pause between polls, 0 to 86400000 ms (default 1000)
  -v, --verbose           also print the traffic rows: time, direction, bytes
                          and every fault with its bytes marked
      --color[=WHEN]      mark the faulty bytes in colour: auto (default: when
                          the output is a terminal and NO_COLOR is not set),
                          always (also --color alone) or never
      --no-color          the same as --color=never
  -c, --csv               one CSV row per transaction, with a header row
  -j, --json              one JSON object per line and transaction
  -S, --stats             a summary of the session at the end (also printed
                          when interrupted)
  -h, --help              show this help and exit
  -V, --version           show the version and exit

Other names: -u, --unit for --slave; --baudrate for --baud; --count for
--polls; --colour for --color; --json-lines for --json.

Output: without --csv or --json one line per value, ADDRESS: VALUE, the
address as the window's response view writes it; 7, 8, 17 and 43 label their
values instead ("Exception status: 0x00", "Data 1: 0xA537", "Server ID: 0x11",
"00 VendorName: ..."), and 43 follows "more follows" within the poll; 15, 16
and 22 print nothing but their status. With --csv or --json the
traffic rows go to standard error, so standard output stays one format; the
summary is the last JSON line ({"statistics": ...}) with --json and goes to
standard error with --csv. Errors go to standard error, one line each.

Exit status: the most severe outcome of the run, in this order from least to
most severe: 0, 5, 6, 4, 3.
  0  every transaction answered without fault
  5  Modbus exception (the slave refused a request)
  6  protocol error (wrong transaction id, slave, function, length, byte count
     or CRC)
  4  time-out (no complete answer in time)
  3  connection failure (refused, unreachable, device missing or not
     permitted when opened)
  2  usage error: a bad option or value, or a serial device that does not
     exist or may not be opened; nothing was sent
)";
}

}  // namespace cli
