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
// process that has more than one. False, with the reason, when a privilege
// could not be given up.
bool DropPrivileges(std::string& failure);
