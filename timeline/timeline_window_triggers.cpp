#include "timeline_window.h"

#include "timeline_view.h"

#include <QCheckBox>
#include <QComboBox>

namespace {
constexpr std::size_t MostTriggerMarks = 1000;
}

void TimelineWindow::scanForTriggers()
{
    const Trigger& trigger = m_view->trigger();
    if (!trigger.active())
        return;
    const int mode = TriggerMode->currentIndex();
    m_capture->read([&](const ChangeRing& ring) {
        std::uint64_t from = std::max(m_scanned, ring.oldest());
        while (from < ring.end()) {
            const std::uint64_t fired = trigger.next(ring, from, ring.end());
            if (fired == ring.end())
                break;
            if (mode == Auto)
                m_triggerMarks.push_back(ring.time(fired));
            else if (!m_pendingTrigger)
                m_pendingTrigger = ring.time(fired);
            from = fired + 1;
        }
        m_scanned = ring.end();
        // Marks of changes no longer kept go.
        const std::int64_t oldest = ring.oldestTime();
        std::erase_if(m_triggerMarks, [oldest](std::int64_t mark) { return mark < oldest; });
    });
    if (m_triggerMarks.size() > MostTriggerMarks)
        m_triggerMarks.erase(m_triggerMarks.begin(), m_triggerMarks.end() - MostTriggerMarks);
    if (mode == Auto)
        m_view->setTriggerMarks(m_triggerMarks);
}

void TimelineWindow::triggerChanged()
{
    m_triggerMarks.clear();
    m_pendingTrigger.reset();
    m_view->setTriggerMarks({});
    // A new trigger looks only at what comes after it was set.
    m_scanned = m_capture->read([](const ChangeRing& ring) { return ring.end(); });
    if (TriggerMode->currentIndex() != Auto)
        FollowBox->setChecked(false);
}
