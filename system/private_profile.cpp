#include "private_profile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

constexpr qsizetype MaxValueLength = 2047;
constexpr QByteArrayView ByteOrderMark = "\xEF\xBB\xBF";

// One line of the file as byte offsets into its content.
struct Line {
    enum class Kind { Other, Section, Entry };

    Kind kind = Kind::Other;
    qsizetype end = 0;        // after the last byte before the line end
    qsizetype next = 0;       // start of the next line
    QByteArrayView name;      // section or key name without blanks
    bool hasValue = false;    // an entry with "="; one without names a key that has no value
    qsizetype valueBegin = 0; // the value without blanks around it; where "=value" goes for none
    qsizetype valueEnd = 0;
};

// Where a key is, as indexes into the file's lines; -1 for none.
struct Location {
    qsizetype header = -1;
    qsizetype entry = -1;
    qsizetype lastEntry = -1;
};

// Ctrl+Z (0x1A), an end-of-file mark of old editors, counts as a blank too.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

// 2 for CR LF, 1 for a lone CR or LF, 0 when no line ends at this offset.
qsizetype lineEndLength(const QByteArray& content, qsizetype at)
{
    if (at >= content.size())
        return 0;
    if (content[at] == '\r')
        return at + 1 < content.size() && content[at + 1] == '\n' ? 2 : 1;
    return content[at] == '\n' ? 1 : 0;
}

// New lines follow the file's first line end; LF in a file without one.
QByteArray lineEndOf(const QByteArray& content)
{
    for (qsizetype at = 0; at < content.size(); ++at) {
        if (const qsizetype length = lineEndLength(content, at))
            return content.mid(at, length);
    }
    return "\n";
}

// Narrows [from, to) to leave out the blanks at both of its ends.
void trimBlanks(const QByteArray& content, qsizetype& from, qsizetype& to)
{
    while (from < to && isBlank(content[from]))
        ++from;
    while (to > from && isBlank(content[to - 1]))
        --to;
}

QByteArrayView bytes(const QByteArray& content, qsizetype from, qsizetype to)
{
    return QByteArrayView(content.constData() + from, to - from);
}

Line parseLine(const QByteArray& content, qsizetype begin)
{
    Line line;
    line.end = begin;
    while (line.end < content.size() && lineEndLength(content, line.end) == 0)
        ++line.end;
    line.next = line.end + lineEndLength(content, line.end);

    qsizetype first = begin;
    qsizetype last = line.end;
    trimBlanks(content, first, last);
    const QByteArrayView text = bytes(content, first, last);
    // A header's name runs to the last ']' of its line; a '[' without any is an entry line.
    if (const qsizetype close = text.lastIndexOf(']'); text.startsWith('[') && close > 0) {
        qsizetype nameBegin = first + 1;
        qsizetype nameEnd = first + close;
        trimBlanks(content, nameBegin, nameEnd);
        line.kind = Line::Kind::Section;
        line.name = bytes(content, nameBegin, nameEnd);
    } else if (!text.isEmpty() && !text.startsWith(';')) {
        const qsizetype equals = text.indexOf('=');
        qsizetype nameBegin = first;
        qsizetype nameEnd = equals < 0 ? last : first + equals;
        trimBlanks(content, nameBegin, nameEnd);
        line.kind = Line::Kind::Entry;
        line.name = bytes(content, nameBegin, nameEnd);
        line.hasValue = equals >= 0;
        line.valueBegin = line.valueEnd = last;
        if (line.hasValue) {
            // A NUL byte ends the value, as it ends the C string of the Windows call.
            const qsizetype nul = text.indexOf('\0', equals);
            line.valueBegin = first + equals + 1;
            line.valueEnd = nul < 0 ? last : first + nul;
            trimBlanks(content, line.valueBegin, line.valueEnd);
        }
    }
    return line;
}

QList<Line> splitLines(const QByteArray& content)
{
    QList<Line> lines;
    for (qsizetype at = content.startsWith(ByteOrderMark) ? ByteOrderMark.size() : 0; at < content.size();
         at = lines.last().next)
        lines.append(parseLine(content, at));
    return lines;
}

bool sameName(QByteArrayView name, const QString& wanted)
{
    return QString::fromUtf8(name).compare(wanted, Qt::CaseInsensitive) == 0;
}

// Only the first section of the name counts, and in it the first entry of the key.
Location locate(const QList<Line>& lines, const QString& section, const QString& key)
{
    Location at;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == Line::Kind::Section) {
            if (at.header >= 0)
                break;
            if (sameName(line.name, section))
                at.header = i;
        } else if (line.kind == Line::Kind::Entry && at.header >= 0) {
            at.lastEntry = i;
            if (at.entry < 0 && sameName(line.name, key))
                at.entry = i;
        }
    }
    return at;
}

std::optional<QByteArray> readFile(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    return in.readAll();
}

// Inserts text as a line of its own after the given line, or at the end of a
// file without lines; the line before it gets a line end if it had none.
void insertLine(QByteArray& content, const Line* after, const QByteArray& text, const QByteArray& lineEnd)
{
    QByteArray inserted = text + lineEnd;
    if (after && after->next == after->end)
        inserted.prepend(lineEnd);
    content.insert(after ? after->next : content.size(), inserted);
}

// Whether the new file's bytes reached the disk. commit() syncs too but ignores
// the result, and some file systems report a full disk only here.
bool syncedToDisk(QSaveFile& out)
{
#ifdef Q_OS_UNIX
    if (::fsync(out.handle()) != 0)
        return errno == EINVAL || errno == ENOTSUP; // no syncing on this file system
#else
    (void)out;
#endif
    return true;
}

bool save(const QString& file, const QByteArray& content, const PrivateProfile::Writer& writer)
{
    // The per-user configuration directory may not exist before the first write.
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    QSaveFile out(file);
    // A directory that refuses the temporary file beside a writable file: the file is
    // written in place. Not atomic, but the user's own writable file is not refused.
    out.setDirectWriteFallback(true);
    // Unbuffered, so that a full disk fails the write itself: Qt 6.4's commit()
    // ignores an error of its final flush and would put a truncated file in place.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const bool written = writer ? writer(out, content) : out.write(content) == content.size();
    if (!written || out.error() != QFileDevice::NoError || !syncedToDisk(out)) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

}

QString PrivateProfile::readString(const QString& section, const QString& key, const QString& defaultValue,
                                   const QString& file)
{
    const QByteArray content = readFile(file).value_or(QByteArray());
    const QList<Line> lines = splitLines(content);
    const Location at = locate(lines, section, key);
    if (at.entry < 0 || !lines[at.entry].hasValue)
        return defaultValue;

    const Line& line = lines[at.entry];
    QByteArrayView value = bytes(content, line.valueBegin, line.valueEnd);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    QString text = QString::fromUtf8(value);
    if (text.size() > MaxValueLength)
        text.truncate(text[MaxValueLength - 1].isHighSurrogate() ? MaxValueLength - 1 : MaxValueLength);
    return text;
}

bool PrivateProfile::writeString(const QString& section, const QString& key, const QString& value,
                                 const QString& file, const Writer& writer)
{
    const std::optional<QByteArray> old = readFile(file);
    // An existing file that cannot be read must not be replaced by one holding a single key.
    if (!old && QFileInfo::exists(file))
        return false;
    QByteArray content = old.value_or(QByteArray());

    const QList<Line> lines = splitLines(content);
    const Location at = locate(lines, section, key);
    const QByteArray lineEnd = lineEndOf(content);
    const QByteArray entry = key.toUtf8() + '=' + value.toUtf8();
    if (at.entry >= 0) {
        const Line& line = lines[at.entry];
        content.replace(line.valueBegin, line.valueEnd - line.valueBegin,
                        (line.hasValue ? QByteArray() : QByteArray("=")) + value.toUtf8());
    } else if (at.header >= 0) {
        insertLine(content, &lines[at.lastEntry >= 0 ? at.lastEntry : at.header], entry, lineEnd);
    } else {
        insertLine(content, lines.isEmpty() ? nullptr : &lines.last(), '[' + section.toUtf8() + ']' + lineEnd + entry,
                   lineEnd);
    }
    return save(file, content, writer);
}
