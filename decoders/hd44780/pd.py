##
## This file is part of the Velkaro project.
##
## Copyright (C) 2026 The Velkaro developers
##
## This program is free software; you can redistribute it and/or modify
## it under the terms of the GNU General Public License as published by
## the Free Software Foundation; either version 3 of the License, or
## (at your option) any later version.
##
## This program is distributed in the hope that it will be useful,
## but WITHOUT ANY WARRANTY; without even the implied warranty of
## MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE.  See the
## GNU General Public License for more details.
##
## You should have received a copy of the GNU General Public License
## along with this program; if not, see <http://www.gnu.org/licenses/>.
##

import sigrokdecode as srd

'''
OUTPUT_PYTHON format:

Packet:
[<ptype>, <pdata>...]

 - ['COMMAND', <byte>]: an instruction written (RS=0, R/W=0).
 - ['DATA', <byte>]: a byte written to DDRAM or CGRAM (RS=1, R/W=0).
 - ['READ', <rs>, <byte>]: a byte read (R/W=1); with RS=0 it is the busy
   flag (bit 7) and the address counter (bits 6-0), with RS=1 RAM data.
'''

# Channel indices: required first, then optional in their order.
E, RS, RW, D0 = range(4)

class Ann:
    COMMAND, DATA, READ, WARNING = range(4)

def char_texts(b):
    '''A character code's description, middle and short names.'''
    if b < 0x10:
        # Codes 0x08-0x0f show the same eight CGRAM patterns as 0x00-0x07.
        n = b & 7
        return '0x%02X (custom character %d)' % (b, n), 'Custom %d' % n, 'C%d' % n
    if 0x20 <= b < 0x7f:
        c = chr(b)
        return "'%s' (0x%02X)" % (c, b), "'%s'" % c, c if c != ' ' else "' '"
    return '0x%02X' % b, '0x%02X' % b, '%02X' % b

def command_texts(b):
    '''Annotation texts of instruction b, longest first.'''
    if b & 0x80:
        return ['Set DDRAM address 0x%02X' % (b & 0x7f),
                'DDRAM 0x%02X' % (b & 0x7f), 'DD']
    if b & 0x40:
        return ['Set CGRAM address 0x%02X' % (b & 0x3f),
                'CGRAM 0x%02X' % (b & 0x3f), 'CG']
    if b & 0x20:
        width = '8-bit' if b & 0x10 else '4-bit'
        lines = '2 lines' if b & 0x08 else '1 line'
        font = '5x10 dots' if b & 0x04 else '5x8 dots'
        return ['Function set: %s, %s, %s' % (width, lines, font),
                'Function set ' + width, 'FS']
    if b & 0x10:
        what = 'display' if b & 0x08 else 'cursor'
        way = 'right' if b & 0x04 else 'left'
        return ['Cursor or display shift: %s %s' % (what, way),
                '%s %s' % (what.capitalize(), way), 'SH']
    if b & 0x08:
        def onoff(bit):
            return 'on' if b & bit else 'off'
        mid = 'Display ' + onoff(0x04)
        mid += ', cursor' if b & 0x02 else ''
        mid += ', blink' if b & 0x01 else ''
        return ['Display on/off control: display %s, cursor %s, blink %s'
                % (onoff(0x04), onoff(0x02), onoff(0x01)), mid, 'DC']
    if b & 0x04:
        way = 'increment' if b & 0x02 else 'decrement'
        shift = 'display shift' if b & 0x01 else 'no shift'
        return ['Entry mode set: %s, %s' % (way, shift),
                'Entry mode ' + way[:3] + (' shift' if b & 0x01 else ''), 'EM']
    if b & 0x02:
        return ['Return home', 'Home', 'RH']
    if b & 0x01:
        return ['Clear display', 'Clear', 'CLR']
    return ['No operation (0x00)', 'NOP', 'NOP']

def busy_texts(b):
    '''Annotation texts of a busy flag and address read.'''
    state = 'busy' if b & 0x80 else 'ready'
    return ['Read busy flag and address: %s, address 0x%02X' % (state, b & 0x7f),
            '%s, AC 0x%02X' % (state.capitalize(), b & 0x7f),
            'BSY' if b & 0x80 else 'RDY']

class Decoder(srd.Decoder):
    api_version = 3
    id = 'hd44780'
    name = 'HD44780'
    longname = 'Hitachi HD44780 LCD controller'
    desc = 'Character LCD controller: commands and characters, 4- and 8-bit bus.'
    license = 'gplv3+'
    inputs = ['logic']
    outputs = ['hd44780']
    tags = ['Display']
    channels = (
        {'id': 'e', 'name': 'E', 'desc': 'Enable strobe, latched on its falling edge'},
        {'id': 'rs', 'name': 'RS', 'desc': 'Register select: 0 instruction, 1 data'},
    )
    optional_channels = (
        {'id': 'rw', 'name': 'R/W', 'desc': 'Read/write: 1 read (write if not connected)'},
    ) + tuple({'id': 'd%d' % i, 'name': 'DB%d' % i, 'desc': 'Data line %d' % i}
              for i in range(8))
    options = (
        {'id': 'interface', 'desc': 'Interface width at the capture\'s start',
            'default': '8-bit', 'values': ('8-bit', '4-bit')},
    )
    annotations = (
        ('command', 'Command'),
        ('data', 'Character'),
        ('read', 'Read'),
        ('warning', 'Warning'),
    )
    annotation_rows = (
        ('commands', 'Commands', (Ann.COMMAND,)),
        ('text', 'Text', (Ann.DATA,)),
        ('reads', 'Reads', (Ann.READ,)),
        ('warnings', 'Warnings', (Ann.WARNING,)),
    )

    def __init__(self):
        self.reset()

    def reset(self):
        self.four_bit = False
        self.rise = None    # Sample of E's last rising edge.
        self.high = None    # The high nibble's strobe in 4-bit mode: (ss, rs, rw, nibble).

    def start(self):
        self.out_python = self.register(srd.OUTPUT_PYTHON)
        self.out_ann = self.register(srd.OUTPUT_ANN)
        self.four_bit = self.options['interface'] == '4-bit'

    def byte(self, ss, es, rs, rw, b):
        if rw:
            self.put(ss, es, self.out_python, ['READ', rs, b])
            if rs:
                desc, mid, short = char_texts(b)
                texts = ['Read data ' + desc, 'Read ' + mid, short]
            else:
                texts = busy_texts(b)
            self.put(ss, es, self.out_ann, [Ann.READ, texts])
        elif rs:
            self.put(ss, es, self.out_python, ['DATA', b])
            desc, mid, short = char_texts(b)
            self.put(ss, es, self.out_ann, [Ann.DATA, ['Character ' + desc, mid, short]])
        else:
            self.put(ss, es, self.out_python, ['COMMAND', b])
            if b & 0xe0 == 0x20:
                # Function set: its DL bit sets the width of the following bytes.
                self.four_bit = not b & 0x10
            self.put(ss, es, self.out_ann, [Ann.COMMAND, command_texts(b)])

    def strobe(self, ss, rs, rw, bus):
        es = self.samplenum
        if not self.four_bit:
            self.byte(ss, es, rs, rw, bus)
            return
        if self.high is None:
            self.high = (ss, rs, rw, bus >> 4)
            return
        ss, rs1, rw1, nibble = self.high
        self.high = None
        # The controller acts on the byte at its second strobe, so that
        # strobe's RS and R/W count; a change is flagged, as it usually
        # means the nibbles are out of step.
        changed = ' and '.join(n for n, a, b in (('RS', rs1, rs), ('R/W', rw1, rw)) if a != b)
        if changed:
            self.put(ss, es, self.out_ann, [Ann.WARNING,
                ['%s changed between the nibbles, second taken' % changed,
                 '%s changed' % changed, '!']])
        self.byte(ss, es, rs, rw, nibble << 4 | bus >> 4)

    def decode(self):
        while True:
            pins = self.wait({E: 'e'})
            if pins[E]:
                self.rise = self.samplenum
                continue
            # A capture that starts with E high has no rising edge to start from.
            ss = self.rise if self.rise is not None else self.samplenum
            self.rise = None
            # Lines not connected (DB0-DB3 in 4-bit wiring, a grounded R/W)
            # read 0xff and count as 0. Not has_channel(): in libsigrokdecode
            # 0.5 each call drops a reference to True or False, a crash once
            # they run out.
            bus = sum(1 << i for i in range(8) if pins[D0 + i] == 1)
            self.strobe(ss, pins[RS], int(pins[RW] == 1), bus)
