#pragma once

#include "simulated_port.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The state of velkaro-sim's ports: their latches and the devices' common
// clock. Kept in a shared-memory object of the user's (mode 0600), so that
// every velkaro-sim and velkaro-cli --sim drives one machine and sees the same
// lines, or, where that object cannot serve, private to this process. Nothing
// else is shared: the devices' lines follow from the latches and the clock.
class SimulatedMachine {
public:
    // The ports, in the order of their latches.
    static constexpr std::array<std::uint16_t, 3> Bases = {0x378, 0x278, 0xE010};

    // The machine in the shared-memory object of that name ("/velkaro-sim-1000"),
    // made there if there is none. A maker that has not finished is waited for
    // up to waitForMaker. An object that is damaged, of another version, or open
    // to other users is left as it is: the machine is then private, and notice
    // says why.
    static std::unique_ptr<SimulatedMachine> attach(const std::string& name, std::chrono::milliseconds waitForMaker,
                                                    std::string& notice);
    // A machine of this process alone.
    static std::unique_ptr<SimulatedMachine> makePrivate();
    // The object's name: $VELKARO_SIM_MACHINE where set, else "/velkaro-sim-UID";
    // empty (a private machine) where that variable is "private".
    static std::string defaultName();
    // What is wrong with an object's contents of that size, read at a time on
    // the monotonic clock; nothing when the machine can use it.
    static std::optional<std::string> fault(const void* image, std::size_t size, std::int64_t monotonicNow);
    // The size of the object.
    static std::size_t imageSize();

    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    bool shared() const { return m_mapping != nullptr; }
    // The latches of the port Bases[index].
    SimulatedLatches& latches(std::size_t index);
    // Nanoseconds since the machine was made, the same in every process.
    std::uint64_t clockNanoseconds() const;

private:
    struct Image;
    SimulatedMachine() = default;

    Image* m_image = nullptr;
    std::unique_ptr<Image> m_privateImage;
    void* m_mapping = nullptr; // the shared object's mapping, or none
    std::int64_t m_clockOrigin = 0; // read once: later changes in the object cannot move the clock
};
