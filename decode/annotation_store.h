#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// One annotation of a decoder: what it found between two times of the record.
struct Annotation {
    std::int64_t from = 0; // nanoseconds on the record's clock
    std::int64_t to = 0;
    int decoder = 0;         // its place in the stack, 0 on the lines
    int annotationClass = 0; // into the decoder's classes
    int row = 0;             // into the decoder's rows
    std::vector<std::string> texts; // longest first
};

// What decoding went through besides annotations: a blind stretch of the
// record, or one whose changes the decoders could not follow (left out), where
// every decoder started again after it; or a decoder's failure.
struct DecodeEvent {
    enum class Kind { Blind, Behind, Failed };
    Kind kind;
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::string text; // a failure's message
};

// Items in the order they came, numbered from 0, the oldest dropped beyond
// the bound. Written and read from any threads.
template <typename Item>
class BoundedLog {
public:
    explicit BoundedLog(std::size_t bound) : m_bound(bound) {}

    void add(Item item)
    {
        const std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
        if (m_items.size() > m_bound) {
            m_items.pop_front();
            ++m_dropped;
        }
    }
    // Those numbered from next on that are still kept; next moves past them.
    std::vector<Item> since(std::uint64_t& next) const
    {
        const std::lock_guard lock(m_mutex);
        const std::uint64_t from = std::max(next, m_dropped);
        std::vector<Item> items(m_items.begin() + static_cast<std::ptrdiff_t>(from - m_dropped), m_items.end());
        next = m_dropped + m_items.size();
        return items;
    }

private:
    const std::size_t m_bound;
    mutable std::mutex m_mutex;
    std::deque<Item> m_items;
    std::uint64_t m_dropped = 0;
};

// What a decoding produced, written on its session's threads.
struct AnnotationStore {
    BoundedLog<Annotation> annotations{1'000'000};
    BoundedLog<DecodeEvent> events{100'000};
};
