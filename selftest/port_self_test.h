#pragma once

#include "plug.h"
#include "verdict.h"

#include <cstdint>
#include <string>
#include <vector>

class PortChannel;

// What a self-test of one port is asked to do.
struct SelfTestPlan {
    enum class PlugChoice { Find, Given, None };
    std::uint16_t base = 0x378;
    PlugChoice plugChoice = PlugChoice::Find;
    const Plug* plug = nullptr; // the one given
    bool inputMode = false;     // turn the data drivers off (control bit 5) and see the lines float
    bool interrupt = false;     // count the interrupts of ACK's rising edges that the plug makes
    int irq = -1;               // the port's IRQ as the kernel knows it; -1 for none

    // Without a plug only the input mode check is left (the interrupt needs a plug's ACK).
    bool testsSomething() const { return plugChoice != PlugChoice::None || inputMode; }
};

struct SelfTestReport {
    const Plug* plug = nullptr; // the plug tested: given, or found by what follows
    std::vector<Verdict> verdicts;
    std::vector<std::string> findings; // what the whole plug shows: no plug, a reversed cable
    bool restored = false;
    std::string restoration; // the registers afterwards, in words
    bool passed() const;
    int passedCount() const;
};

// The output lines the test drives, in the register model's order: those of
// the plug given, or of every known plug while it looks for one. Said before
// anything is driven.
std::vector<const RegisterModel::Line*> LinesDriven(const SelfTestPlan& plan);

// What the test is about to drive, in words, said before it drives anything.
std::string SelfTestAnnouncement(const SelfTestPlan& plan);

// Drives the lines, reads what follows and judges each connection and check;
// the data and control registers are put back as they were afterwards.
SelfTestReport RunSelfTest(PortChannel& channel, const SelfTestPlan& plan);

// "five-wire plug (2 D0→15 Err, …)", or "no plug".
std::string PlugText(const SelfTestReport& report);
// "passed: 5 of 5 checks passed; the registers are as they were (…)", or "FAILED: …".
std::string SelfTestSummary(const SelfTestReport& report);
