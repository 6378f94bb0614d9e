#include "timeline_window.h"

#include "annotation_text.h"
#include "decoder_dialog.h"
#include "desktop_services.h"
#include "time_text.h"
#include "timeline_view.h"

#include <QLabel>
#include <QSaveFile>

#include <algorithm>

QStringList TimelineWindow::decoderSetups() const
{
    QStringList setups;
    for (const auto& decoding : m_decodings)
        setups << QString::fromStdString(DecoderStackText(decoding->stack));
    return setups;
}

QString TimelineWindow::setDecoderSetups(const QStringList& setups)
{
    QStringList refused;
    m_decodings.clear();
    for (const QString& setup : setups) {
        if (static_cast<int>(m_decodings.size()) == DecoderKeys) {
            refused << QStringLiteral("%1: höchstens %2 Dekoder").arg(setup).arg(DecoderKeys);
            continue;
        }
        auto stack = ReadDecoderStack(setup.toStdString(), DecoderLibrary::instance());
        if (const auto* fault = std::get_if<std::string>(&stack)) {
            refused << QStringLiteral("%1: %2").arg(setup, QString::fromStdString(*fault));
            continue;
        }
        auto decoding = std::make_unique<Decoding>();
        decoding->stack = std::get<DecoderStack>(std::move(stack));
        m_decodings.push_back(std::move(decoding));
    }
    startDecoding();
    m_decoderNote = refused.isEmpty() ? QString() : QStringLiteral("Dekoder abgelehnt: ") + refused.join(QStringLiteral("; "));
    DecoderText->setText(m_decoderNote);
    return m_decoderNote;
}

void TimelineWindow::startDecoding()
{
    for (const auto& decoding : m_decodings) {
        decoding->decoding.reset();
        decoding->index = AnnotationIndex();
        decoding->nextEvent = 0;
        decoding->decoding = std::make_unique<RecordDecoding>(*m_capture, decoding->stack);
    }
    followDecoding();
}

void TimelineWindow::followDecoding()
{
    std::vector<TimelineView::DecoderTrack> tracks;
    QStringList failures;
    for (const auto& decoding : m_decodings) {
        decoding->decoding->follow();
        decoding->index.take(decoding->decoding->store());
        for (const DecodeEvent& event : decoding->decoding->store().events.since(decoding->nextEvent))
            if (event.kind == DecodeEvent::Kind::Failed)
                failures << QStringLiteral("%1 fehlgeschlagen bei %2: %3")
                                .arg(QString::fromStdString(DecoderStackText(decoding->stack)),
                                     DurationText(static_cast<double>(event.from)),
                                     QString::fromStdString(event.text.substr(0, event.text.find('\n'))));
        for (const AnnotationIndex::Row& row : decoding->index.rows()) {
            const DecoderInfo& decoder = *decoding->stack[static_cast<std::size_t>(row.decoder)].decoder;
            const QString rowName = row.row >= 0 ? QString::fromStdString(decoder.rows[static_cast<std::size_t>(row.row)].desc)
                                                 : QString();
            tracks.push_back({QStringLiteral("%1: %2").arg(QString::fromStdString(decoder.name), rowName), &row, &decoding->index});
        }
    }
    m_view->setDecoderTracks(std::move(tracks));
    if (!failures.isEmpty())
        DecoderText->setText((m_decoderNote.isEmpty() ? QString() : m_decoderNote + QLatin1Char('\n')) + failures.join('\n'));
}

bool TimelineWindow::saveAnnotations(const QString& path)
{
    const auto [from, to] = chosenSpan(true);
    const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    // Every annotation kept, in the order of their starts, with their decoders' names.
    struct Line {
        std::int64_t from;
        std::string text;
    };
    std::vector<Line> lines;
    for (const auto& decoding : m_decodings) {
        const std::vector<std::string>& instances = decoding->decoding->session().instanceIds();
        for (const AnnotationIndex::Row& row : decoding->index.rows()) {
            const DecoderInfo& decoder = *decoding->stack[static_cast<std::size_t>(row.decoder)].decoder;
            const std::string& instance =
                static_cast<std::size_t>(row.decoder) < instances.size() ? instances[static_cast<std::size_t>(row.decoder)] : decoder.id;
            for (const Annotation& annotation : row.annotations)
                if (annotation.from >= from && annotation.to <= to)
                    lines.push_back({annotation.from, csv ? CsvAnnotationLine(instance, decoder, annotation)
                                                          : SigrokAnnotationLine(instance, annotation)});
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.from < b.from; });
    QSaveFile file(path);
    bool saved = file.open(QIODevice::WriteOnly | QIODevice::Text);
    if (saved && csv)
        saved = file.write(CsvAnnotationHeader) >= 0 && file.write("\n") >= 0;
    for (const Line& line : lines)
        saved = saved && file.write(line.text.c_str()) >= 0 && file.write("\n") >= 0;
    saved = saved && file.commit();
    if (!saved)
        m_desktop.showError(this, QStringLiteral("Could not save %1: %2").arg(path, file.errorString()));
    return saved;
}

void TimelineWindow::askAndSaveAnnotations()
{
    const QString path = m_askPath(QStringLiteral("Annotationen speichern"),
                                   QStringLiteral("Text, wie sigrok-cli (*.txt);;CSV (*.csv)"));
    if (!path.isEmpty())
        saveAnnotations(path);
}

void TimelineWindow::openDecoderDialog()
{
    DecoderDialog dialog(decoderSetups(), this);
    if (dialog.exec() == QDialog::Accepted)
        setDecoderSetups(dialog.setups());
}
