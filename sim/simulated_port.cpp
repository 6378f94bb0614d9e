#include "simulated_port.h"

#include "register_model.h"

using namespace RegisterModel;

// Control bit 5 turns the data drivers off: the lines then float high, as
// open inputs do, unless a device drives them.
std::uint8_t SimulatedParallelPort::dataLines(std::uint8_t data, std::uint8_t control) const
{
    return (control & 0x20) && !m_sppOnly ? 0xFF : data;
}

std::uint8_t SimulatedParallelPort::statusRegister(std::uint8_t data, std::uint8_t control)
{
    const std::uint8_t lines = m_device ? m_device->statusLines(dataLines(data, control), levelsFromRegister(Control, control & 0x0F))
                                        : m_idleStatusLines;
    // Bits 0..2 have no line and read as set.
    const auto status = static_cast<std::uint8_t>(registerFromLevels(Status, lines & 0xF8) | 0x07);
    noticeAck(status, control);
    return status;
}

void SimulatedParallelPort::noticeAck(std::uint8_t status, std::uint8_t control)
{
    const bool high = (status & 0x40) != 0;
    // A plain load first: the locked exchange only where ACK moved, which
    // spares every read of a steady line a bus lock.
    if (m_ackHigh.load(std::memory_order_relaxed) == high)
        return;
    if (!m_ackHigh.exchange(high, std::memory_order_relaxed) && high && (control & 0x10))
        m_interrupts.fetch_add(1, std::memory_order_relaxed);
}

std::uint8_t SimulatedParallelPort::controlRegister(std::uint8_t control)
{
    return static_cast<std::uint8_t>((control & 0x3F) | 0xC0); // bits 6 and 7 read as set
}

std::uint8_t SimulatedParallelPort::read(int offset)
{
    if (m_device)
        m_device->beforeRead(*this);
    return registerAt(offset);
}

std::uint32_t SimulatedParallelPort::readAll()
{
    if (m_device)
        m_device->beforeRead(*this);
    // The registers of one moment: a write by another process to the shared
    // latches shows in the next read, never between data and status of this one.
    const std::uint8_t data = dataLatch();
    const std::uint8_t control = controlLatch();
    return dataLines(data, control) | std::uint32_t{statusRegister(data, control)} << 8 | std::uint32_t{controlRegister(control)} << 16 |
           0xFFu << 24;
}

std::uint8_t SimulatedParallelPort::registerAt(int offset)
{
    switch (offset) {
    case 0:
        return dataLines(dataLatch(), controlLatch());
    case 1:
        return statusRegister(dataLatch(), controlLatch());
    case 2:
        return controlRegister(controlLatch());
    default:
        return 0xFF;
    }
}

void SimulatedParallelPort::write(int offset, std::uint8_t value)
{
    if (offset == 0)
        m_latches->data.store(value, std::memory_order_relaxed);
    else if (offset == 2)
        m_latches->control.store(value, std::memory_order_relaxed);
    else
        return; // the status register and base + 3 ignore writes
    statusRegister(dataLatch(), controlLatch()); // a write may move ACK
}
