#pragma once

class Report;

// The kernel's port list, the route choice and the ppdev provider, in a guest
// with parallel ports at 0x378 and 0xE010 and the parport, parport_pc and ppdev
// modules loaded: as root, then as an unprivileged user in group lp. In lockdown
// root's port I/O is refused and ppdev must serve both.
void runKernelPortChecks(Report& report, bool lockedDown);
