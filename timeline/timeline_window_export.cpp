#include "timeline_window.h"

#include "change_export.h"
#include "desktop_services.h"
#include "port_address.h"
#include "timeline_view.h"

#include <QSaveFile>

bool TimelineWindow::saveVcd(const QString& path)
{
    const auto [from, to] = chosenSpan(true);
    const auto began = m_capture->began() + std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(from));
    WatchHeader header{{{PortAddressText(m_port.base), m_access}}, began, {}, "velkaro timeline",
                       SchedulingText(m_capture->scheduling())};
    for (const RegisterModel::Line& line : RegisterModel::Lines)
        header.lines.push_back(&line);
    const std::optional<QString> refusal = m_capture->read([&, from = from, to = to](const ChangeRing& ring) {
        return SaveChanges(ring, from, to, header, RecordFormat::Vcd, path);
    });
    if (refusal)
        m_desktop.showError(this, *refusal);
    return !refusal;
}

bool TimelineWindow::savePng(const QString& path)
{
    QSaveFile file(path);
    const bool saved = file.open(QIODevice::WriteOnly) && m_view->grab().save(&file, "PNG") && file.commit();
    if (!saved)
        m_desktop.showError(this, QStringLiteral("Could not save %1: %2").arg(path, file.errorString()));
    return saved;
}

void TimelineWindow::askAndSave(bool vcd)
{
    const QString path = vcd ? m_askPath(QStringLiteral("Als VCD speichern"), QStringLiteral("VCD (*.vcd)"))
                             : m_askPath(QStringLiteral("Ansicht als PNG speichern"), QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (vcd)
        saveVcd(path);
    else
        savePng(path);
}
