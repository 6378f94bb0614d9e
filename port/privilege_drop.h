#pragma once

#include <string>

// Port rights are needed only for the grants at start: the process asks for
// them while it is still privileged and then gives every privilege up, before
// the GUI toolkit, its plugins and the windows exist. The kernel keeps the I/O
// permission bits of ports granted before the drop.

// Empties the effective, permitted, inheritable and ambient capability sets
// (and the bounding set, where the process may change it), forbids execve to
// grant privileges again, and returns a set-user-ID program to the user who
// started it. Capabilities belong to threads, so this refuses to run in a
// process that has more than one besides those that gave theirs up already
// (DropThreadPrivileges). False, with the reason, when a privilege could not
// be given up.
bool DropPrivileges(std::string& failure, int threadsDropped = 0);

// Whether the calling thread has the capability in its effective set.
bool HasCapability(int capability);

// The calling thread's part of the above: for a thread that must exist before
// the drop, it empties its own sets and forbids execve to grant any again.
bool DropThreadPrivileges(std::string& failure);

// What a privileged start keeps for the sampling threads without keeping a
// privilege: a soft and hard RLIMIT_RTPRIO of at least the priority, with which
// they may go real-time themselves (as under a limits.d grant) but no process of
// another user can be touched. Raising the hard limit needs CAP_SYS_RESOURCE, as
// root normally has; elsewhere this changes nothing. Called before the drop.
// Whether the limit now allows the priority.
bool KeepRealtimeLimit(int priority);
