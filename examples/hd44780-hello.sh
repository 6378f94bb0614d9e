#!/bin/bash
# Writes text to an HD44780 character LCD on the data lines, 8-bit bus, as
# the classic printer-port wiring has it: D0-D7 (pins 2-9) to DB0-DB7, STB
# (pin 1) to E, Init (pin 16) to RS, R/W to ground. Initialises the display
# (8-bit bus, two lines, display on, cleared, cursor moving right), writes the
# text on the first line and, after a second argument, on the second. Each
# byte is one velkaro-cli command for data and RS, and a pulse of E, which
# the controller latches on E's fall.
#
#   examples/hd44780-hello.sh [TEXT [SECOND-LINE]]   default: "Hello, Velkaro"
#
# Decoded live (channels e=STB, rs=Init, d0=D0 ... d7=D7):
#   velkaro-cli --sim watch -p 378 --decode \
#     hd44780:e=STB:rs=Init:d0=D0:d1=D1:d2=D2:d3=D3:d4=D4:d5=D5:d6=D6:d7=D7
#
# VELKARO_CLI names the command line tool (velkaro-cli), PORT the port (378);
# VELKARO_PORT_ACCESS= (empty) drives a real port instead of the simulated one.
set -eu
cli=${VELKARO_CLI:-velkaro-cli}
port=${PORT:-378}
access=${VELKARO_PORT_ACCESS---sim}
# --no-probe: the probe of the standard bases would flip the data lines.
velkaro() { "$cli" $access --no-probe -p "$port" "$@" >/dev/null; }

# send RS BYTE: the byte on DB0-DB7 with RS, then E high for 1 µs.
send() {
    local lines=(Init=$1) bit
    for bit in 0 1 2 3 4 5 6 7; do
        lines+=(D$bit=$((($2 >> bit) & 1)))
    done
    velkaro set "${lines[@]}"
    velkaro pulse STB=1 --for 1us
}
text() {
    local string=$1 at
    for ((at = 0; at < ${#string}; at++)); do
        send 1 "$(printf '%d' "'${string:at:1}")"
    done
}

# Printable ASCII only, checked before anything is sent: the display's own
# characters above 0x7F differ from one ROM to the next.
for string in "$@"; do
    if LC_ALL=C; [[ $string == *[^\ -~]* ]]; then
        echo "hd44780-hello.sh: '$string' holds a character other than printable ASCII" >&2
        exit 2
    fi
done

# E low between strobes. Where E was high, lowering it latches what the data
# lines hold: first RS low and 0x00 on them, an instruction that does nothing.
send_lines() { velkaro set Init=0 D0=0 D1=0 D2=0 D3=0 D4=0 D5=0 D6=0 D7=0; }
send_lines
velkaro set STB=0
send 0 0x38              # function set: 8-bit bus, two lines, 5x8 dots
send 0 0x0C              # display on, no cursor
send 0 0x01              # clear
send 0 0x06              # entry mode: cursor moves right
text "${1:-Hello, Velkaro}"
if [ $# -ge 2 ]; then
    send 0 0xC0          # second line: DDRAM address 0x40
    text "$2"
fi
