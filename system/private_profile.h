#pragma once

#include <QString>

#include <functional>

class QByteArray;
class QIODevice;

// One value read from or written to an INI file, with the rules of the Windows
// private-profile calls. The file is handled as bytes, so everything the layer
// does not touch keeps its bytes and line ends; names and values are UTF-8.
namespace PrivateProfile {

// Puts the whole new file content into the opened temporary file; false when
// that failed. Tests pass one that fails to play a full disk.
using Writer = std::function<bool(QIODevice& out, const QByteArray& content)>;

// The value of the key in the first section of that name (both matched without
// regard to case), without surrounding blanks and one pair of outer quotes, at
// most 2047 characters; the default when the file, section or key is missing,
// and for a key named by a line without "=".
QString readString(const QString& section, const QString& key, const QString& defaultValue, const QString& file);

// Sets the key to the value as given: in place when the key exists, else as a
// new line after the section's last entry, else in a new section at the end.
// The file is replaced only once its whole new content is written; false, and
// the old file untouched, when that failed. Where the directory refuses the
// temporary file this needs, a writable file is overwritten in place (synced,
// but without that guarantee). An empty writer writes plainly.
bool writeString(const QString& section, const QString& key, const QString& value, const QString& file,
                 const Writer& writer = {});

}
