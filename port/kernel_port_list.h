#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A parallel port as the kernel's parport layer knows it: on-board ports found
// through ACPI/PnP and add-in cards found through the PCI tables alike.
struct KernelPort {
    int number = 0;                     // N of parportN and /dev/parportN; not address order
    std::uint16_t base = 0;             // the SPP registers
    std::uint16_t extendedBase = 0;     // the ECP registers; 0 for none
    int irq = -1;                       // -1 for none
    int dma = -1;                       // -1 for none
    std::string modes;                  // "PCSPP,TRISTATE,EPP", as the kernel lists them
    std::string activeDevice = "none";  // the driver that holds the port now ("lp0", "ppdev1")
    std::string devicePath;             // "/dev/parportN" when ppdev offers the port, else empty

    // Another program or driver has claimed the port: claiming it would block.
    bool held() const { return activeDevice != "none"; }
};

// Where the kernel tells about its ports; tests and the simulated port give fake trees.
struct KernelPortPaths {
    std::string procParport = "/proc/sys/dev/parport";
    std::string sysPpdev = "/sys/class/ppdev";
    std::string devDirectory = "/dev";
    std::string lockdown = "/sys/kernel/security/lockdown";
};

// The files of one /proc/sys/dev/parport/parportN directory, as read.
struct KernelPortTexts {
    std::string baseAddr;  // "888\t0\n": base and extended base in decimal
    std::string irq;       // "7\n", "-1\n" for none
    std::string modes;     // "PCSPP,TRISTATE\n"
    std::string active;    // devices/active: "none\n" or the holder's name
    std::string dma;       // "3\n", "-1\n" for none
};

// The port of parportN from its texts; none when the base is missing, 0 or not
// an I/O port number (ports of other buses have no place in port I/O).
std::optional<KernelPort> ParseKernelPort(int number, const KernelPortTexts& texts);

// Every port the kernel knows, in the kernel's order (by N); reads only files
// that any user may read. devicePath is set where /sys/class/ppdev names the port.
std::vector<KernelPort> ReadKernelPorts(const KernelPortPaths& paths = {});

// The lockdown mode from the text of the lockdown file ("none [integrity]
// confidentiality" gives "integrity"); empty when the text names none.
std::string ParseLockdownMode(std::string_view text);
// The kernel's lockdown mode; empty when the kernel does not tell.
std::string ReadLockdownMode(const KernelPortPaths& paths = {});

// What the kernel found of the port, for people: "parport0, base_hi 778, IRQ 7,
// DMA none, modes PCSPP,TRISTATE", and "; in use by lp0" while another holds it.
std::string KernelFactsText(const KernelPort& port);

// The mode field (bits 7-5) of an ECP port's extended control register, read
// at base_hi + 2: "001 PS/2"; a register that reads FF is taken for none.
std::string EcrModeText(std::uint8_t ecr);

// The bases of the ports that are not at one of the standard bases, in order.
std::vector<std::uint16_t> NonStandardBases(const std::vector<KernelPort>& ports);
// The port of the list at the base, or none.
const KernelPort* KernelPortAt(const std::vector<KernelPort>& ports, std::uint16_t base);
