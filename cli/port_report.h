#pragma once

#include "kernel_port_list.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// A port as the list shows it.
struct ListedPort {
    std::uint16_t base = 0;
    std::string access;        // "direct I/O", "ppdev /dev/parport0", "simulated"; empty when held
    bool fourByteReads = false;
    const KernelPort* kernel = nullptr; // the kernel's entry, where it has one
};

// The ports found, then those that another program holds: a table, or one JSON object.
void WritePortList(std::FILE* out, const std::vector<ListedPort>& ports, bool json);

// What is known of a port beyond its registers: the kernel's entry, where it
// has one, and the ECP chip's mode, where its register could be read (only
// on the direct route; it is never written).
struct PortFacts {
    const KernelPort* kernel = nullptr;
    std::optional<std::uint8_t> ecr;
};

// The three registers in decimal, hexadecimal and binary and the 17 lines with
// their pins and levels, after the facts if given: a table, or one JSON object.
void WriteRegisterReport(std::FILE* out, std::uint16_t base, const std::string& access, std::uint32_t registers, bool json,
                         const PortFacts* facts = nullptr);
