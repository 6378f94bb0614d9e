#!/bin/bash
# Shifts bytes out as SPI on the data lines, as a PC drives a 74HC595 shift
# register: D0 (pin 2) the clock, D1 (pin 3) the data (MOSI), D2 (pin 4) chip
# select, low while the bytes go (its rise latches the '595's outputs).
# Mode 0, most significant bit first: each bit set while the clock is low,
# taken on the clock's rise. Each step is one velkaro-cli command and moves
# one line, so the clock runs at some tens of hertz (SPI has no timing to
# keep) and no two edges can be seen out of order.
#
#   examples/spi-shift-register.sh [BYTE...]     default: 0x56 0x4B 0x21
#
# Decoded live, in another terminal or the timeline (channels clk=D0,
# mosi=D1, cs=D2):
#   velkaro-cli --sim watch -p 378 --decode spi:clk=D0:mosi=D1:cs=D2 -A spi=mosi-data
#
# VELKARO_CLI names the command line tool (velkaro-cli), PORT the port (378);
# VELKARO_PORT_ACCESS= (empty) drives a real port instead of the simulated one.
set -eu
cli=${VELKARO_CLI:-velkaro-cli}
port=${PORT:-378}
access=${VELKARO_PORT_ACCESS---sim}
# --no-probe: the probe of the standard bases would flip the data lines.
velkaro() { "$cli" $access --no-probe -p "$port" "$@" >/dev/null; }

[ $# -gt 0 ] || set -- 0x56 0x4B 0x21
# Every byte checked before anything is sent, and read as a number only once
# it is one: decimal (leading zeros are no octal here) or hexadecimal after 0x.
values=()
for byte in "$@"; do
    if [[ $byte =~ ^0[xX][0-9A-Fa-f]{1,2}$ ]]; then
        values+=($((byte)))
    elif [[ $byte =~ ^[0-9]{1,3}$ ]] && [ $((10#$byte)) -le 255 ]; then
        values+=($((10#$byte)))
    else
        echo "spi-shift-register.sh: '$byte' is not a byte (0 to 255, or 0x00 to 0xFF)" >&2
        exit 2
    fi
done

velkaro set D0=0 D2=1
velkaro set D2=0
for value in "${values[@]}"; do
    for bit in 7 6 5 4 3 2 1 0; do
        velkaro set D1=$(((value >> bit) & 1))
        velkaro set D0=1
        velkaro set D0=0
    done
done
velkaro set D2=1
