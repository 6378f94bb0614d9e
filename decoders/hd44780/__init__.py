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

'''
The Hitachi HD44780 and its many clones drive character LCDs (16x2, 20x4
and the like) over a parallel bus: E (enable strobe), RS (register select:
instruction or data), R/W (usually tied to ground) and DB0-DB7.

This decoder samples the bus on each falling edge of E and shows the
instructions (clear, entry mode, display control, function set, RAM
addresses, ...), the characters written and any reads of the busy flag or
of data.

It follows the controller's interface width as the controller does: 8-bit
after power-on, switched by the DL bit of each Function set instruction.
In 4-bit operation only DB4-DB7 are wired and each byte takes two strobes,
high nibble first; the usual initialisation (nibbles 3, 3, 3, 2) therefore
decodes as three 8-bit Function sets and a Function set to 4-bit. For a
capture that starts after the initialisation, set the 'interface' option
to the width in use then.
'''

from .pd import Decoder
