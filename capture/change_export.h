#pragma once

#include "change_writer.h"

#include <QString>

#include <cstdint>
#include <optional>

class ChangeRing;

// Hands the changes of the ring between two times (nanoseconds) to a writer,
// with times counted from the first: the levels as the span begins, then each
// change in it, then its end.
void WriteChanges(const ChangeRing& ring, std::int64_t from, std::int64_t to, ChangeWriter& writer,
                  const WatchHeader& header);

// Saves them to the file in the format, replacing the file only once the new
// one is complete and on disk; what went wrong, or nothing.
std::optional<QString> SaveChanges(const ChangeRing& ring, std::int64_t from, std::int64_t to, const WatchHeader& header,
                                   RecordFormat format, const QString& path);
