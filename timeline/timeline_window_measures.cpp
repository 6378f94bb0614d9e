#include "timeline_window.h"

#include "line_measures.h"
#include "time_text.h"
#include "timeline_view.h"

#include <QLabel>
#include <QTableWidget>

namespace {
QString optionalDuration(const std::optional<std::int64_t>& time)
{
    return time ? DurationText(static_cast<double>(*time)) : QStringLiteral("-");
}
}

namespace {
QString SchedulingCaption(const Scheduling& scheduling)
{
    const QString turns = scheduling.threads > 1 ? QStringLiteral(", %1 Threads im Wechsel").arg(scheduling.threads) : QString();
    switch (scheduling.route) {
    case Scheduling::Route::ProcessLimits:
        return QStringLiteral("Abtastung in Echtzeit (SCHED_RR %1, Grenzen des Prozesses%2)").arg(scheduling.priority).arg(turns);
    case Scheduling::Route::StartPrivilege:
        return QStringLiteral("Abtastung in Echtzeit (SCHED_RR %1, CAP_SYS_NICE beim Start%2)").arg(scheduling.priority).arg(turns);
    case Scheduling::Route::Rtkit:
        return QStringLiteral("Abtastung in Echtzeit (SCHED_RR %1, über rtkit%2)").arg(scheduling.priority).arg(turns);
    case Scheduling::Route::Normal:
        break;
    }
    return QStringLiteral("Abtastung mit normaler Priorität: unter Last bleiben Stellen ohne Abtastung (schraffiert); "
                          "warum und wie es Echtzeit wird, sagt der Tooltip");
}
}

void TimelineWindow::updateCounters()
{
    const PortCapture::Counters counters = m_capture->counters();
    const auto at = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(at - m_lastCount).count();
    if (seconds >= 0.5) {
        m_rate = paused() ? QString()
                          : QStringLiteral(" (%1 /s)").arg(QLocale::c().toString(static_cast<double>(counters.samples - m_lastSamples) / seconds, 'f', 0));
        m_lastSamples = counters.samples;
        m_lastCount = at;
    }
    const QLocale numbers = QLocale::c();
    QString text = QStringLiteral("Abtastungen %1%2   Änderungen gespeichert %3   alte verworfen %4   Speicher %5 MiB%6")
                       .arg(numbers.toString(counters.samples), m_rate, numbers.toString(static_cast<qulonglong>(counters.stored)),
                            numbers.toString(static_cast<qulonglong>(counters.dropped)), QString::number(m_depth),
                            paused() ? QStringLiteral("   angehalten") : QString());
    if (counters.gaps > 0)
        text += QStringLiteral("\nLücken ohne Abtastung: %1, längste %2 (das System hat den Abtaster "
                               "angehalten; Flanken darin sind verspätet, kurze Pulse können fehlen)")
                    .arg(numbers.toString(counters.gaps), DurationText(static_cast<double>(counters.longestGap)));
    // Through ppdev the kernel counts ACK's rises as interrupts, pulses shorter than a sample too.
    if (const std::optional<long long> counted = m_access.starts_with("ppdev") ? m_capture->kernelAckRises() : std::nullopt) {
        text += QStringLiteral("\nACK ↑: %1 vom Kernel gezählt (Interrupt), %2 abgetastet")
                    .arg(numbers.toString(*counted), numbers.toString(counters.ackRises));
        if (*counted > counters.ackRises)
            text += QStringLiteral(" – die übrigen waren kürzer als eine Abtastung oder fielen in eine Lücke");
    }
    if (!m_depthNote.isEmpty())
        text += QLatin1Char('\n') + m_depthNote;
    const Scheduling scheduling = m_capture->scheduling();
    text += QLatin1Char('\n') + SchedulingCaption(scheduling);
    CounterText->setText(text);
    CounterText->setToolTip(QStringLiteral("Sampling at %1%2").arg(QString::fromStdString(SchedulingText(scheduling)),
                                                                  scheduling.realtime() ? QString() : QStringLiteral("; ") + QString::fromLatin1(RealtimeAdvice)));
}

void TimelineWindow::updateCursorText()
{
    const std::optional<std::int64_t> a = m_view->cursor(0);
    const std::optional<std::int64_t> b = m_view->cursor(1);
    // Positions to the pixel: a cursor placed by the edge keys sits on a change.
    const double step = std::max(1.0, m_view->nanosecondsPerPixel());
    const auto position = [step](const std::optional<std::int64_t>& time) {
        return time ? AxisTimeText(static_cast<double>(*time), step) : QStringLiteral("-");
    };
    QString text = QStringLiteral("A %1   B %2").arg(position(a), position(b));
    if (a && b && *a != *b) {
        const double delta = static_cast<double>(*b - *a);
        text += QStringLiteral("   Δt %1   1/Δt %2").arg(DurationText(delta), FrequencyText(1e9 / std::fabs(delta)));
    }
    CursorText->setText(text);
}

std::pair<std::int64_t, std::int64_t> TimelineWindow::chosenSpan(bool wholeRecord) const
{
    const std::optional<std::int64_t> a = m_view->cursor(0);
    const std::optional<std::int64_t> b = m_view->cursor(1);
    if (a && b && *a != *b)
        return std::minmax(*a, *b);
    if (wholeRecord)
        return {m_capture->read([](const ChangeRing& ring) { return ring.oldestTime(); }),
                m_capture->sampledUntil()};
    return {m_view->viewStart(), std::min(m_view->viewEnd(), m_view->now())};
}

void TimelineWindow::updateMeasures()
{
    const auto [from, to] = chosenSpan(false);
    const bool betweenCursors = m_view->cursor(0) && m_view->cursor(1) && m_view->cursor(0) != m_view->cursor(1);
    QString span = QStringLiteral("Messung %1: %2").arg(betweenCursors ? QStringLiteral("zwischen A und B")
                                                                     : QStringLiteral("im sichtbaren Bereich"),
                                                      DurationText(static_cast<double>(to - from)));
    const std::vector<ChangeRing::Blind> blind =
        m_capture->read([from = from, to = to](const ChangeRing& ring) { return ring.blindBetween(from, to); });
    if (!blind.empty()) {
        std::int64_t unsampled = 0;
        for (const ChangeRing::Blind& stretch : blind)
            unsampled += std::min(stretch.to, to) - std::max(stretch.from, from);
        span += QStringLiteral("   darin ohne Abtastung: %1× zusammen %2 (Pegel dort unbekannt, Messwerte unsicher)")
                    .arg(blind.size())
                    .arg(DurationText(static_cast<double>(unsampled)));
    }
    MeasureSpan->setText(span);
    const LineMeasures measures = m_capture->read([from = from, to = to](const ChangeRing& ring) { return MeasureLines(ring, from, to); });
    for (int row = 0; row < Measures->rowCount(); ++row) {
        const LineMeasure& measure = measures[TimelineView::rowLines()[static_cast<std::size_t>(row)]];
        const std::optional<double> frequency = measure.frequency();
        const QString texts[] = {QString::number(measure.edges), frequency ? FrequencyText(*frequency) : QStringLiteral("-"),
                                 optionalDuration(measure.shortestHigh), optionalDuration(measure.longestHigh),
                                 optionalDuration(measure.shortestLow), optionalDuration(measure.longestLow)};
        for (int column = 1; column < Measures->columnCount(); ++column)
            if (Measures->item(row, column)->text() != texts[column - 1])
                Measures->item(row, column)->setText(texts[column - 1]);
    }
}
