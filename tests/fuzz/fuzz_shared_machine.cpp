// Arbitrary contents of the simulated machine's shared-memory object through
// the attach path: the process either shares the machine, whose header then
// passes the check, or takes a private one and says why in one line; either
// way every register of every port reads and writes without a fault.
#include "serial_step_card.h"
#include "simulated_devices.h"
#include "simulated_machine.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {
void require(bool condition)
{
    if (!condition)
        std::abort();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string name = "/velkaro-fuzz-" + std::to_string(getpid());
    shm_unlink(name.c_str());
    const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    require(fd >= 0);
    require(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
    close(fd);

    std::string notice;
    {
        // No wait for a maker: an unfinished object is judged as it is.
        const auto machine = SimulatedMachine::attach(name, std::chrono::milliseconds(0), notice);
        require(machine->shared() == notice.empty());
        require(notice.find('\n') == std::string::npos);
        // Shared only on a header that passes the check.
        require(!machine->shared() || !SimulatedMachine::fault(data, size, INT64_MAX));
        SimulatedMachine* const clock = machine.get();
        for (std::size_t i = 0; i < SimulatedMachine::Bases.size(); ++i) {
            SimulatedParallelPort port(SimulatedMachine::Bases[i], machine->latches(i));
            if (i == 0)
                port.attach(std::make_unique<LoopbackPlug>());
            else
                port.attach(std::make_unique<SerialStepCard>([clock] { return clock->clockNanoseconds(); }));
            for (int offset = 0; offset < 4; ++offset)
                port.write(offset, static_cast<std::uint8_t>(~port.read(offset)));
            port.readAll();
        }
    }
    shm_unlink(name.c_str());
    return 0;
}
