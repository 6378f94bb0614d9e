#include "change_export.h"

#include "change_ring.h"

#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

void WriteChanges(const ChangeRing& ring, std::int64_t from, std::int64_t to, ChangeWriter& writer,
                  const WatchHeader& header)
{
    writer.begin(header);
    const std::uint64_t first = ring.firstAtOrAfter(from);
    const std::uint64_t end = ring.firstAtOrAfter(to);
    const std::vector<ChangeRing::Blind> blind = ring.blindBetween(from, to);
    auto nextBlind = blind.begin();
    // The blind stretches that begin before the time, cut to the span.
    const auto blindBefore = [&](std::int64_t time) {
        for (; nextBlind != blind.end() && nextBlind->from < time; ++nextBlind)
            writer.blind(std::max(nextBlind->from, from) - from, std::min(nextBlind->to, to) - from);
    };
    std::uint64_t change = first > ring.oldest() ? first - 1 : first;
    if (change < end) {
        std::uint32_t last = ring.registers(change);
        writer.record(0, 0, last, 0xFFFFFF);
        for (++change; change < end; ++change) {
            const std::uint32_t registers = ring.registers(change);
            blindBefore(ring.time(change));
            writer.record(ring.time(change) - from, 0, registers, registers ^ last);
            last = registers;
        }
    }
    blindBefore(to);
    writer.end(to - from);
}

std::optional<QString> SaveChanges(const ChangeRing& ring, std::int64_t from, std::int64_t to, const WatchHeader& header,
                                   RecordFormat format, const QString& path)
{
    const auto failed = [&path](const QString& reason) {
        return QStringLiteral("Could not save %1: %2").arg(path, reason);
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    const int descriptor = ::dup(file.handle());
    std::FILE* stream = descriptor < 0 ? nullptr : ::fdopen(descriptor, "w");
    if (!stream) {
        const int error = errno;
        if (descriptor >= 0)
            ::close(descriptor);
        file.cancelWriting();
        return failed(QString::fromLocal8Bit(std::strerror(error)));
    }
    {
        const auto writer = MakeChangeWriter(format, false, stream, ChangeWriter::HandOn::InBlocks);
        WriteChanges(ring, from, to, *writer, header);
    }
    errno = 0;
    const bool written = std::fflush(stream) == 0 && !std::ferror(stream);
    const int error = errno;
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed) {
        file.cancelWriting();
        return failed(QString::fromLocal8Bit(std::strerror(error != 0 ? error : EIO)));
    }
    if (!file.commit())
        return failed(file.errorString());
    return std::nullopt;
}
