#pragma once

#include "ppdev_calls.h"
#include "simulated_port.h"

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

// The kernel's ppdev driver as measured on a 6.1 kernel, over simulated ports:
// register ioctls need a claim first (EINVAL otherwise); the first claim of an
// open file writes control 0x0C (plus the IRQ enable bit where the port has an
// IRQ); PPRCONTROL reads the driver's copy of bits 0-3, never the hardware;
// PPWCONTROL takes bits 0-3 and, with bit 5 set, turns the data lines to
// inputs; PPDATADIR sets bit 5; PPCLRIRQ hands over the interrupts counted
// and starts anew. A port that another program holds makes a claim
// wait until its limit ends it. A descriptor that is not open gives EBADF.
class FakePpdevDriver : public PpdevCalls {
public:
    struct Node {
        SimulatedParallelPort* port;
        bool irq = false;
        int openError = 0;     // errno of open(), e.g. EACCES without group lp
        bool heldElsewhere = false;
        std::uint8_t control = 0; // the driver's copy of the control register
    };

    std::map<std::string, Node> nodes;
    std::vector<std::string> calls; // "open /dev/parport0", "claim", "PPRDATA", ...
    std::vector<std::chrono::milliseconds> claimLimits; // as each claim was given it
    int openFiles() const { return static_cast<int>(m_files.size()); }

    int open(const std::string& path) override
    {
        calls.push_back("open " + path);
        const auto node = nodes.find(path);
        if (node == nodes.end())
            return -ENOENT;
        if (node->second.openError)
            return -node->second.openError;
        m_files[m_nextFd] = {path};
        return m_nextFd++;
    }

    int claim(int fd, std::chrono::milliseconds limit) override
    {
        calls.push_back("claim");
        claimLimits.push_back(limit);
        if (!m_files.count(fd))
            return -EBADF;
        File& file = m_files.at(fd);
        Node& node = nodes.at(file.path);
        if (file.claimed)
            return -EINVAL;
        if (node.heldElsewhere) {
            // The port never comes free: the claim sleeps until the limit's signal.
            std::this_thread::sleep_for(std::max(limit, std::chrono::milliseconds(0)));
            return -EINTR;
        }
        if (!file.everClaimed)
            writeControl(node, node.irq ? 0x1C : 0x0C);
        file.claimed = file.everClaimed = true;
        return 0;
    }

    int ioctl(int fd, unsigned long request, void* argument) override
    {
        calls.push_back(name(request));
        if (!m_files.count(fd))
            return -EBADF;
        File& file = m_files.at(fd);
        Node& node = nodes.at(file.path);
        auto* byte = static_cast<unsigned char*>(argument);
        if (!file.claimed)
            return -EINVAL;
        switch (request) {
        case PPRELEASE:
            file.claimed = false;
            return 0;
        case PPRDATA:
            *byte = node.port->read(0);
            return 0;
        case PPWDATA:
            node.port->write(0, *byte);
            return 0;
        case PPRSTATUS:
            *byte = node.port->read(1);
            return 0;
        case PPRCONTROL:
            *byte = node.control & 0x0F;
            return 0;
        case PPWCONTROL:
            writeControl(node, static_cast<std::uint8_t>((node.control & 0xF0) | (*byte & 0x2F)));
            return 0;
        case PPDATADIR:
            writeControl(node, static_cast<std::uint8_t>((node.control & ~0x20) | (*static_cast<int*>(argument) ? 0x20 : 0)));
            return 0;
        case PPCLRIRQ: // the port counts ACK's rises while the claim's IRQ bit is set
            *static_cast<int*>(argument) = node.port->takeInterrupts();
            return 0;
        default:
            return -ENOTTY;
        }
    }

    void close(int fd) override
    {
        calls.push_back("close");
        m_files.erase(fd);
    }

private:
    struct File {
        std::string path;
        bool claimed = false;
        bool everClaimed = false;
    };

    static void writeControl(Node& node, std::uint8_t value)
    {
        node.control = value;
        node.port->write(2, value);
    }

    static std::string name(unsigned long request)
    {
        switch (request) {
        case PPRELEASE: return "PPRELEASE";
        case PPRDATA: return "PPRDATA";
        case PPWDATA: return "PPWDATA";
        case PPRSTATUS: return "PPRSTATUS";
        case PPRCONTROL: return "PPRCONTROL";
        case PPWCONTROL: return "PPWCONTROL";
        case PPDATADIR: return "PPDATADIR";
        case PPCLRIRQ: return "PPCLRIRQ";
        default: return "other";
        }
    }

    std::map<int, File> m_files;
    int m_nextFd = 3;
};
