#include "privilege_drop.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using CapabilityData = std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3>;

bool readCapabilities(CapabilityData& data)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data.data()) == 0;
}

bool writeCapabilities(const CapabilityData& data)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, data.data()) == 0;
}

bool effective(const CapabilityData& data, int capability)
{
    return data[capability / 32].effective & (1u << (capability % 32));
}

// The highest capability this kernel knows; newer than the headers is possible.
int lastCapability()
{
    int last = CAP_LAST_CAP;
    if (std::FILE* file = std::fopen("/proc/sys/kernel/cap_last_cap", "r")) {
        if (std::fscanf(file, "%d", &last) != 1)
            last = CAP_LAST_CAP;
        std::fclose(file);
    }
    return last;
}

// The threads of this process; 0 when /proc cannot tell.
int threadCount()
{
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return 0;
    int count = 0;
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(tasks);
    return count;
}

bool fail(std::string& failure, const char* step)
{
    failure = std::string("Velkaro could not give up its privileges (") + step + "): " + std::strerror(errno);
    return false;
}

}

namespace {
// The calling thread's way back to privileges closed: root executing a
// program, or a set-user-ID or file-capability program, would otherwise get
// capabilities back. These sets belong to each thread.
bool closeWayBack(const CapabilityData& caps, std::string& failure)
{
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return fail(failure, "no_new_privs");
    if (effective(caps, CAP_SETPCAP)) {
        for (int capability = 0; capability <= lastCapability(); ++capability)
            if (prctl(PR_CAPBSET_READ, capability, 0, 0, 0) == 1 && prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0)
                return fail(failure, "bounding set");
    }
    // Kernels before 4.3 have no ambient set.
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return fail(failure, "ambient set");
    return true;
}

// The calling thread's capabilities emptied, and seen to be.
bool emptyCapabilities(std::string& failure)
{
    CapabilityData caps{};
    if (!writeCapabilities(CapabilityData{}))
        return fail(failure, "capset");
    if (!readCapabilities(caps))
        return fail(failure, "capget");
    for (const __user_cap_data_struct& word : caps) {
        if (word.effective || word.permitted || word.inheritable) {
            errno = EPERM;
            return fail(failure, "capabilities still held");
        }
    }
    return true;
}
}

bool HasCapability(int capability)
{
    CapabilityData caps{};
    return readCapabilities(caps) && effective(caps, capability);
}

bool DropThreadPrivileges(std::string& failure)
{
    CapabilityData caps{};
    if (!readCapabilities(caps))
        return fail(failure, "capget");
    return closeWayBack(caps, failure) && emptyCapabilities(failure);
}

bool DropPrivileges(std::string& failure, int threadsDropped)
{
    if (threadCount() > 1 + threadsDropped) {
        failure = "Velkaro could not give up its privileges: other threads would keep theirs.";
        return false;
    }
    CapabilityData caps{};
    if (!readCapabilities(caps))
        return fail(failure, "capget");
    if (!closeWayBack(caps, failure))
        return false;

    // A set-user-ID installation goes back to the user who started it; group first,
    // while the user id may still change it. (The C library changes every thread's.)
    const gid_t group = getgid();
    if (getegid() != group && setresgid(group, group, group) != 0)
        return fail(failure, "group id");
    const uid_t user = getuid();
    if (geteuid() != user && setresuid(user, user, user) != 0)
        return fail(failure, "user id");
    return emptyCapabilities(failure);
}

bool KeepRealtimeLimit(int priority)
{
    rlimit limit{};
    const rlim_t wanted = static_cast<rlim_t>(priority);
    if (getrlimit(RLIMIT_RTPRIO, &limit) != 0)
        return false;
    if (limit.rlim_cur >= wanted)
        return true;
    const rlimit raised{wanted, std::max(limit.rlim_max, wanted)};
    return setrlimit(RLIMIT_RTPRIO, &raised) == 0;
}
