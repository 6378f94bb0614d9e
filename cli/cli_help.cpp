#include "cli_help.h"

namespace {

const char* const Overview = R"(Usage: velkaro-cli [--sim] [--no-probe] COMMAND [OPTIONS] [ARGUMENTS]

Reads, drives and records the lines of a PC parallel port, through the same
port access as the velkaro window.

Commands:
  list                      the ports found, how each is reached, whether
                            four-byte reads work on it
  read [LINE|REGISTER...]   the three registers and the 17 lines of a port;
                            with lines or registers, their bare values
  write REGISTER=VALUE...   write the data or control register
  set LINE=LEVEL...         drive output lines to a level, 0 or 1
  toggle LINE...            invert output lines
  pulse LINE=LEVEL --for T  drive a line, hold it, give it back
  watch                     record every change of the lines of the ports,
                            or decode them (--decode)
  decoders [ID...]          sigrok's protocol decoders that watch --decode
                            can use, with their channels and options
  test                      test a port with a loopback plug, line by line
  help [COMMAND]            this text, or a command's (also COMMAND --help)

Options of every command:
  --sim          the simulated ports of velkaro-sim, not the machine's: one
                 simulated machine per user, shared with every velkaro-sim
                 and velkaro-cli --sim (VELKARO_SIM_MACHINE names another
                 one, or "private" for ports of this command alone)
  --no-probe     find ports only in the kernel's port list, without the probe
                 of the standard bases 3BC, 378 and 278
  -p, --port BASE  the port, by its base in hexadecimal as list shows it
                 (378, E010); without it, the first port found (watch:
                 every port found)
  --json         list, read, write, set, toggle, pulse, test: one JSON object;
                 decoders: one JSON array
  --version      the version

The lines, by name (any case) or by pin number (2 is D0):
  D0-D7 (2-9), STB (1), AFD (14), Init (16), SlctIn (17): outputs
  Err (15), SlctOut (13), PaperOut (12), ACK (10), Busy (11): inputs
Levels are line levels, as on the pin: the port inverts Busy, STB, AFD and
SlctIn, and the register bits of those lines are the opposite.

Writes: nothing is written to a port unless the command asks for it, with two
exceptions. The probe of the standard bases that the kernel does not list
writes the complement of each one's data register and restores it at once
(--no-probe leaves it out). Through ppdev the kernel sets a port's control
register to 0x0C (STB, AFD and SlctIn inactive, Init high) when velkaro-cli
claims the port.

Port access: direct port I/O when the kernel grants it (root, or once
"sudo setcap cap_sys_rawio+ep velkaro-cli"), else the kernel's ppdev driver,
/dev/parportN, for a user in group lp ("sudo usermod -aG lp $USER", then log in
again). Through ppdev the control register shows only bits 0-3 and the
direction bit 5. A port that another program holds is left out.

Values: decimal (85), hexadecimal after $, x or 0x ($55, 0x55), or binary
after 0b (0b01010101).

Exit status: 0 success; 1 no port can be reached, or the output cannot be
opened or written; 2 bad usage or input, and then nothing is written to any
port; 3 watch --until timed out; 128 + N when signal N ended a pulse or an
--until.
)";

const char* const List = R"(Usage: velkaro-cli list [--json]

Every port found: its base address, how it is reached (direct I/O, ppdev
/dev/parportN, simulated), whether a four-byte read at the base returns its
registers (where not, velkaro samples it with byte reads), and the kernel's
name for it. Ports that another program holds follow, with their holder.
The probe of the standard bases that the kernel does not list writes each
one's data register's complement and restores it; --no-probe lists only the
kernel's ports.
)";

const char* const Read = R"(Usage: velkaro-cli read [-p BASE] [--json]
       velkaro-cli read [-p BASE] [--names] LINE|REGISTER...

Without arguments: the data, status and control registers in decimal,
hexadecimal and binary, and the 17 lines with their pins, directions,
register bits and line levels (--json: all of it as one JSON object).

With lines (by name or pin) or registers (data, status, control): each one's
bare value on a line of its own, in the order given, from one reading of the
port: a line's level, 0 or 1; a register's value in decimal. --names prints
NAME=VALUE instead.
Reads only; the probe that finds the port writes as list --help says.
  velkaro-cli read Busy
  velkaro-cli read --names 11 ACK data
)";

const char* const Write = R"(Usage: velkaro-cli write [-p BASE] [--json] REGISTER=VALUE...

Writes whole registers: data (base) and control (base + 2), each once, in the
order given; then reads the port back and shows what it holds, as read does.
Values are read as in the window's decimal cells: decimal (85),
or hexadecimal after $, x or 0x ($55, 0x55); and binary after 0b
(0b01010101). They must lie between 0 and 255.
The status register is the port's input and cannot be written.
  velkaro-cli write data=0x55 control=11
)";

const char* const Set = R"(Usage: velkaro-cli set [-p BASE] [--json] LINE=LEVEL...

Drives output lines to a line level, 1 or 0, as a meter on the pin would show
it; for the inverted lines STB, AFD and SlctIn the register bit is the
opposite. Each register is read, the lines' bits changed, the other bits kept,
and written once; then the port is read back and shown, as read does.
Lines may be named by their pins: set 2=1 drives D0.
  velkaro-cli set D0=1 STB=0 Init=1
)";

const char* const Pulse = R"(Usage: velkaro-cli pulse [-p BASE] [--json] LINE=LEVEL --for T
                         [--repeat N [--period P]]

Drives an output line to the level, holds it for T, and gives the line back
the level it had; with --repeat, N times, each pulse starting P after the one
before (no sooner: one held up late is not followed by a short gap; without
--period, P is twice T). The line's register is read once; each pulse is two
writes of it, the other bits as read. Then it reports the widths achieved,
from just after the first write to just after the second, on the monotonic
clock (--json: one object with "width_ns" and "achieved_period_ns", each
{"min", "median", "max"}).

  --for T       how long the level holds: 5us, 1.5ms, 2s (units ns, us, ms,
                s; seconds without one), or 0 for the shortest pulse there is
  --repeat N    N pulses, 1 to 1000000
  --period P    from the start of one pulse to the next, at least T

The hold sleeps while its end is more than 2 ms away and watches the clock
for the rest, so it is never shorter than asked; it may be longer when the
system runs another program. The shortest pulse is two port writes back to
back: about 1 to 2 us through direct I/O (an ISA or LPC bus cycle each),
some microseconds through ppdev (a system call each), tens of nanoseconds on
the simulated ports. Ctrl-C or SIGTERM ends the pulses early, the line given
back first (exit status 128 + the signal).
  velkaro-cli pulse STB=0 --for 5us
  velkaro-cli pulse D0=1 --for 1ms --repeat 10 --period 10ms --json
)";

const char* const Toggle = R"(Usage: velkaro-cli toggle [-p BASE] [--json] LINE...

Inverts output lines: each register is read, the lines' bits flipped, the
other bits kept, and written once; then the port is read back and shown.
  velkaro-cli toggle D3
)";

const char* const Watch = R"(Usage: velkaro-cli watch [-p BASE] [--interval MS] [--duration S | -n N]
                         [-l LINE,...] [--edge [LINE=]EDGE]...
                         [--until LINE=LEVEL|EDGE... [-t S]]
                         [-f text|csv|jsonl|vcd] [--vcd-registers] [-o FILE]
       velkaro-cli watch -p BASE --decode ID[:CHANNEL=LINE|OPTION=VALUE...][,ID...]...
                         [--annotations ID[=ROW|CLASS[:...]][,...]] [-f text|jsonl]

Samples the registers of every port found (or of the one --port names) over
and over, as fast as the ports answer (or every MS milliseconds), and writes
one record per change: the time in nanoseconds since the start on the
monotonic clock (the header gives the wall-clock start), the port, the lines
that changed with their new levels, and the port's registers. Each port's
first record is its state at the start and holds every line. Reads only.

  --interval MS      sample every MS milliseconds instead of continuously
  --duration S       end after S seconds (0.5 is half a second)
  -n, --count N      end after N change records; the first records, the
                     ports' states at the start, do not count
  -l, --lines LINES  record only these lines (comma-separated, names or
                     pins); without it every register bit counts, the lines
                     without pins too
  --edge EDGE        record only these changes: rising (to 1), falling (to
                     0) or both, of every line recorded; as LINE=EDGE, of
                     that line (given again: each adds its own); an edge is
                     a change from one sample to the next
  --until LINE=LEVEL end at the first sample where the line has that level
                     on a port; a level that holds at the start ends the
                     watch at once. LINE=rising, falling or both: end at
                     such an edge of the line, never at the start. Given
                     again: where all hold in one sample. Exit status 0
  -t, --timeout S    with --until: give up after S seconds, exit status 3
  -f, --format FORMAT text (default), csv (the column names first, then a
                     comment), jsonl (one JSON object per line),
                     or vcd: a Value Change Dump with a 1-bit wire per line
                     carrying its line level, for PulseView and GTKWave, one
                     scope per port (with several ports the wires are named
                     ACK_278 and so on); its time unit is 1 us, and a change
                     within the microsecond of the one before is put 1 us
                     later, so none is lost
  --vcd-registers    also the three registers as 8-bit vectors (GTKWave;
                     sigrok and PulseView refuse files that hold vectors)
  -o, --output FILE  write the records to FILE instead of standard output
  -P, --decode STACK decode the first port's lines with sigrok's decoders and
                     write their annotations, each as soon as it is decoded,
                     instead of records: ID:CHANNEL=LINE:OPTION=VALUE as
                     sigrok-cli's -P takes it, a comma stacking the next
                     decoder on the one before; given again, another stack.
                     Text is sigrok-cli's layout ("uart-1: 56"), jsonl one
                     object per annotation with its times. A blind stretch
                     starts the decoders again after it.
  -A, --annotations CHOICE  which annotations: ID=CLASS or ROW, several
                     joined by ':', decoders by ','; without it, those of the
                     top decoder of each stack

Ctrl-C or SIGTERM ends a watch cleanly, with a complete file (exit status 0,
or 128 + the signal while --until still waited).
  velkaro-cli watch --format vcd -o capture.vcd --duration 10
  velkaro-cli watch --lines Busy,ACK --until Busy=0 --timeout 5
  velkaro-cli watch -l Err --edge rising -n 1 -f jsonl
  velkaro-cli watch -p E010 -P uart:rx=ACK:baudrate=9600:format=ascii -A uart=rx-data
)";

const char* const Decoders = R"(Usage: velkaro-cli decoders [--json] [ID...]

The protocol decoders of sigrok's libsigrokdecode that watch --decode can use
(or those named): each one's id and name; the channels it reads, which
--decode puts on lines (CHANNEL=LINE), or the decoder it stacks on; its
options with their defaults and choices; and its annotation rows, which
--annotations chooses among. Decoders are searched for in SIGROKDECODE_DIR,
then in ~/.local/share/libsigrokdecode/decoders (the user's own, in sigrok's
Python format), then in the system's, /usr/share/libsigrokdecode/decoders.
  velkaro-cli decoders uart spi
)";

const char* const Test = R"(Usage: velkaro-cli test [-p BASE] [--plug five-wire|control|none] [--irq] [--input-mode] [--json]

Tests a port with a loopback plug in its connector: drives the plug's outputs
low and high in turn (all low, all high, each high alone, each low alone),
reads what the inputs do, and gives one line per connection with its verdict:
good; stays high (open, or stuck at 1); stays low (stuck at 0, or shorted to
ground); inverted; follows another line (wired to the wrong line); shorted to
another line; then what the whole plug shows (all connections swapped end for
end: a reversed ribbon cable; no plug). Before it drives anything it says
which lines it will drive; afterwards the data and control registers are as
they were, or it says that they could not be put back.
  --plug PLUG     the plug in the connector; without it, the test drives the
                  outputs of both and takes the one whose connections follow,
                  or finds no plug:
                  five-wire  2 D0->15 Err, 3 D1->13 SlctOut, 4 D2->12 PaperOut,
                             5 D3->10 ACK, 6 D4->11 Busy (D0-D4, all inputs)
                  control    1 STB->13 SlctOut, 2 D0->15 Err, 16 Init->10 ACK,
                             17 SlctIn->11 Busy, 14 AFD->12 PaperOut (the four
                             control outputs, D0, all inputs)
                  none       no plug: only the checks that need none
  --irq           enables the port's interrupt (control bit 4) and makes 8
                  rises of ACK through the plug: the kernel must count 8
                  interrupts. Counted through ppdev only, on a port whose IRQ
                  the kernel knows (list shows it; a legacy port's is probed
                  only with parport_pc irq=auto).
  --input-mode    writes 55 and AA, then turns the data drivers off (control
                  bit 5): the data lines must then read what drives them (FF
                  when open), not what was written; otherwise the port is
                  SPP only, or an ECP chip set to its SPP mode. Nothing else
                  may drive D0-D7 meanwhile.
The exit status is 0 when every check passed, 1 when one failed (or no plug
was found), 2 for bad usage. velkaro-sim's port 378 has the five-wire plug;
VELKARO_SIM_PLUG=control, faulty (D1 and D2 shorted, ACK stuck low) or none
puts another in its place.
  velkaro-cli test -p 378
  velkaro-cli test --plug control --input-mode --json
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
    if (topic == "pulse")
        return Pulse;
    if (topic == "watch")
        return Watch;
    if (topic == "decoders")
        return Decoders;
    if (topic == "test")
        return Test;
    return Overview;
}
