#pragma once

#include "kernel_port_list.h"

#include <cstdint>
#include <cstdio>
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

// The three registers in decimal, hexadecimal and binary and the 17 lines with
// their pins and levels: a table, or one JSON object.
void WriteRegisterReport(std::FILE* out, std::uint16_t base, const std::string& access, std::uint32_t registers, bool json);
