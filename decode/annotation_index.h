#pragma once

#include "annotation_store.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A stack's annotations by row, each row in the order of their starts, for
// drawing and for jumping between them: those that meet a stretch of time are
// found by binary search. Bounded: beyond it a row drops its oldest.
class AnnotationIndex {
public:
    struct Row {
        int decoder = 0; // its place in the stack
        int row = 0;     // into the decoder's rows
        std::vector<Annotation> annotations;
        std::int64_t longest = 0; // the longest annotation's length, for the search
    };
    static constexpr std::size_t RowBound = 500'000;
    // A stretch after which the decoders started again (not sampled, or one
    // that the decoders could not follow): nothing was decoded across it.
    struct Restart {
        std::int64_t from;
        std::int64_t to;
    };

    // Takes in what came to the store since the last call.
    void take(const AnnotationStore& store);
    // In the order of the decoders in the stack, then of their rows.
    const std::vector<Row>& rows() const { return m_rows; }
    // In the order of time, bounded like a row.
    const std::vector<Restart>& restarts() const { return m_restarts; }
    // The first restart that ends after the time.
    std::size_t firstRestartAfter(std::int64_t time) const;

    // The first annotation of a row that may meet the time or come after it:
    // none that ends after the time comes before it.
    static std::size_t firstReaching(const Row& row, std::int64_t time);
    // The first annotation of a row that starts after the time.
    static std::size_t firstAfter(const Row& row, std::int64_t time);

private:
    std::uint64_t m_next = 0;
    std::uint64_t m_nextEvent = 0;
    std::vector<Row> m_rows;
    std::vector<Restart> m_restarts;
};
