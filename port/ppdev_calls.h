#pragma once

#include <chrono>
#include <string>

// The system calls of the ppdev route, behind one seam: the real ones, or in
// tests a model of the kernel's driver.
class PpdevCalls {
public:
    virtual ~PpdevCalls() = default;
    // Opens a device node for reading and writing: the descriptor, or -errno.
    virtual int open(const std::string& path) = 0;
    // One ioctl: 0, or -errno.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    // PPCLAIM, given up (-EINTR) when the port is not free within the limit:
    // while a claim waits, the driver stalls every ppdev user on every port.
    virtual int claim(int fd, std::chrono::milliseconds limit) = 0;
    virtual void close(int fd) = 0;
};

// The real calls on /dev/parportN.
class SystemPpdevCalls : public PpdevCalls {
public:
    int open(const std::string& path) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    // Bounded by an interval timer whose signal interrupts the wait; a limit of
    // 0 takes only a free port. Meant for a process that has one thread and no
    // interval timer of its own.
    int claim(int fd, std::chrono::milliseconds limit) override;
    void close(int fd) override;

protected:
    // The PPCLAIM itself, which sleeps until the port is free or a signal comes.
    virtual int waitForClaim(int fd);
};
