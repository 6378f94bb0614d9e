#include "cli_help.h"

namespace {

const char* const Overview = R"(Usage: velkaro-cli [--sim] [--no-probe] COMMAND [OPTIONS] [ARGUMENTS]

Reads, drives and records the lines of a PC parallel port, through the same
port access as the velkaro window.

Commands:
  list                      the ports found, how each is reached, whether
                            four-byte reads work on it
  read                      the three registers and the 17 lines of a port
  write REGISTER=VALUE...   write the data or control register
  set LINE=LEVEL...         drive output lines to a level, 0 or 1
  toggle LINE...            invert output lines
  watch                     record every change of the lines of the ports
  help [COMMAND]            this text, or a command's (also COMMAND --help)

Options of every command:
  --sim          the simulated ports of velkaro-sim, not the machine's
  --no-probe     find ports only in the kernel's port list, without the probe
                 of the standard bases 3BC, 378 and 278
  --port BASE    the port, by its base in hexadecimal as list shows it
                 (378, E010); without it, the first port found (watch:
                 every port found)
  --json         list, read, write, set, toggle: one JSON object
  --version      the version

The lines, by name (any case), with their pins:
  D0-D7 (2-9), STB (1), AFD (14), Init (16), SlctIn (17): outputs
  Err (15), SlctOut (13), PaperOut (12), ACK (10), Busy (11): inputs
Levels are line levels, as on the pin: the port inverts Busy, STB, AFD and
SlctIn, and the register bits of those lines are the opposite.

Writes: nothing is written to a port unless the command asks for it, with two
exceptions. The probe of the standard bases writes the complement of each
data register and restores it at once (--no-probe leaves it out, where the
kernel lists its ports). Through ppdev the kernel sets a port's control
register to 0x0C (STB, AFD and SlctIn inactive, Init high) when velkaro-cli
claims the port.

Port access: direct port I/O when the kernel grants it (root, or once
"sudo setcap cap_sys_rawio+ep velkaro-cli"), else the kernel's ppdev driver,
/dev/parportN, for a user in group lp ("sudo usermod -aG lp $USER", then log in
again). Through ppdev the control register shows only bits 0-3 and the
direction bit 5. A port that another program holds is left out.

Exit status: 0 success; 1 no port can be reached, or the output cannot be
written; 2 bad usage or input, and then nothing is written to any port;
3 watch --until timed out.
)";

const char* const List = R"(Usage: velkaro-cli list [--json]

Every port found: its base address, how it is reached (direct I/O, ppdev
/dev/parportN, simulated), whether a four-byte read at the base returns its
registers (where not, velkaro samples it with byte reads), and the kernel's
name for it. Ports that another program holds follow, with their holder.
The probe of the standard bases writes each data register's complement and
restores it; --no-probe lists only the kernel's ports.
)";

const char* const Read = R"(Usage: velkaro-cli read [--port BASE] [--json]

The data, status and control registers in decimal, hexadecimal and binary,
and the 17 lines with their pins, directions, register bits and line levels.
Reads only; the probe that finds the port writes as list --help says.
)";

const char* const Write = R"(Usage: velkaro-cli write [--port BASE] [--json] REGISTER=VALUE...

Writes whole registers: data (base) and control (base + 2), each once, in the
order given; then reads the port back and shows what it holds, as read does.
Values are read as in the window's decimal cells: decimal (85),
or hexadecimal after $, x or 0x ($55, 0x55); they must lie between 0 and 255.
The status register is the port's input and cannot be written.
  velkaro-cli write data=0x55 control=11
)";

const char* const Set = R"(Usage: velkaro-cli set [--port BASE] [--json] LINE=LEVEL...

Drives output lines to a line level, 1 or 0, as a meter on the pin would show
it; for the inverted lines STB, AFD and SlctIn the register bit is the
opposite. Each register is read, the lines' bits changed, the other bits kept,
and written once; then the port is read back and shown, as read does.
  velkaro-cli set D0=1 STB=0 Init=1
)";

const char* const Toggle = R"(Usage: velkaro-cli toggle [--port BASE] [--json] LINE...

Inverts output lines: each register is read, the lines' bits flipped, the
other bits kept, and written once; then the port is read back and shown.
  velkaro-cli toggle D3
)";

const char* const Watch = R"(Usage: velkaro-cli watch [--port BASE] [--interval MS] [--duration S | --count N]
                         [--lines LINE,...] [--until LINE=LEVEL [--timeout S]]
                         [--format text|csv|jsonl|vcd] [--vcd-registers] [-o FILE]

Samples the registers of every port found (or of the one --port names) over
and over, as fast as the ports answer (or every MS milliseconds), and writes
one record per change: the time in nanoseconds since the start on the
monotonic clock (the header gives the wall-clock start), the port, the lines
that changed with their new levels, and the port's registers. Each port's
first record holds every line. Reads only.

  --interval MS      sample every MS milliseconds instead of continuously
  --duration S       end after S seconds (0.5 is half a second)
  --count N          end after N change records
  --lines LINES      record only these lines (comma-separated); without it
                     every register bit counts, the lines without pins too
  --until LINE=LEVEL end at the first sample where the line has that level
                     on a port (given again: where all hold), exit status 0
  --timeout S        with --until: give up after S seconds, exit status 3
  --format FORMAT    text (default), csv, jsonl (one JSON object per line),
                     or vcd: a Value Change Dump with a 1-bit wire per line
                     carrying its line level, for PulseView and GTKWave, one
                     scope per port (with several ports the wires are named
                     ACK_278 and so on); its time unit is 1 us, and a change
                     within the microsecond of the one before is put 1 us
                     later, so none is lost
  --vcd-registers    also the three registers as 8-bit vectors (GTKWave;
                     sigrok and PulseView refuse files that hold vectors)
  -o, --output FILE  write the records to FILE instead of standard output

Ctrl-C or SIGTERM ends a watch cleanly, with a complete file (exit status 0,
or 128 + the signal while --until still waited).
  velkaro-cli watch --format vcd -o capture.vcd --duration 10
  velkaro-cli watch --lines Busy,ACK --until Busy=0 --timeout 5
)";

}

std::string CliHelp(std::string_view topic)
{
    if (topic == "list")
        return List;
    if (topic == "read")
        return Read;
    if (topic == "write")
        return Write;
    if (topic == "set")
        return Set;
    if (topic == "toggle")
        return Toggle;
    if (topic == "watch")
        return Watch;
    return Overview;
}
