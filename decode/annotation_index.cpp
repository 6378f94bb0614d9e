#include "annotation_index.h"

#include <algorithm>

void AnnotationIndex::take(const AnnotationStore& store)
{
    for (Annotation& annotation : store.annotations.since(m_next)) {
        auto row = std::lower_bound(m_rows.begin(), m_rows.end(), annotation, [](const Row& row, const Annotation& a) {
            return std::pair(row.decoder, row.row) < std::pair(a.decoder, a.row);
        });
        if (row == m_rows.end() || row->decoder != annotation.decoder || row->row != annotation.row)
            row = m_rows.insert(row, Row{annotation.decoder, annotation.row, {}, 0});
        row->longest = std::max(row->longest, annotation.to - annotation.from);
        // Mostly in order already; a stacked decoder may put one a little earlier.
        const auto place = std::upper_bound(row->annotations.begin(), row->annotations.end(), annotation.from,
                                            [](std::int64_t from, const Annotation& a) { return from < a.from; });
        row->annotations.insert(place, std::move(annotation));
        if (row->annotations.size() > RowBound)
            row->annotations.erase(row->annotations.begin(), row->annotations.begin() + RowBound / 10);
    }
    for (const DecodeEvent& event : store.events.since(m_nextEvent))
        if (event.kind != DecodeEvent::Kind::Failed)
            m_restarts.push_back({event.from, event.to});
    if (m_restarts.size() > RowBound)
        m_restarts.erase(m_restarts.begin(), m_restarts.begin() + RowBound / 10);
}

std::size_t AnnotationIndex::firstRestartAfter(std::int64_t time) const
{
    const auto first = std::upper_bound(m_restarts.begin(), m_restarts.end(), time,
                                        [](std::int64_t t, const Restart& restart) { return t < restart.to; });
    return static_cast<std::size_t>(first - m_restarts.begin());
}

std::size_t AnnotationIndex::firstReaching(const Row& row, std::int64_t time)
{
    const auto first = std::lower_bound(row.annotations.begin(), row.annotations.end(), time - row.longest,
                                        [](const Annotation& a, std::int64_t from) { return a.from < from; });
    return static_cast<std::size_t>(first - row.annotations.begin());
}

std::size_t AnnotationIndex::firstAfter(const Row& row, std::int64_t time)
{
    const auto first = std::upper_bound(row.annotations.begin(), row.annotations.end(), time,
                                        [](std::int64_t t, const Annotation& a) { return t < a.from; });
    return static_cast<std::size_t>(first - row.annotations.begin());
}
