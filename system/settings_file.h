#pragma once

#include "private_profile.h"

#include <QString>

#include <optional>
#include <utility>

// The program's settings in section "misc" of "parport.ini", through the
// private-profile layer. Every read and write goes to the file itself.
class SettingsFile {
public:
    // The writer is the private-profile layer's; tests pass one that fails.
    explicit SettingsFile(QString path, PrivateProfile::Writer writer = {})
        : m_path(std::move(path)), m_writer(std::move(writer))
    {
    }

    // "parport.ini" in velkaro's per-user configuration directory.
    static QString defaultPath();

    const QString& path() const { return m_path; }
    // What the user is told when a write fails.
    QString writeFailureText() const;

    // An integer in the decimal cell's grammar; the default when the key is
    // missing, empty or not such an integer.
    int readInteger(const char* key, int defaultValue) const;
    // A window coordinate: an integer as above, limited to ±MaxCoordinate; none
    // when the key is missing, empty or not such an integer.
    std::optional<int> readCoordinate(const char* key) const;
    int readCoordinate(const char* key, int defaultValue) const { return readCoordinate(key).value_or(defaultValue); }
    // Far beyond any screen; past it Qt's geometry arithmetic overflows.
    static constexpr int MaxCoordinate = 16777215;
    // An integer; any value but 0 is true.
    bool readBoolean(const char* key, bool defaultValue) const;

    // The key's text as stored; the default when the key is missing.
    QString readText(const char* key, const QString& defaultValue) const;

    // Decimal text, a minus sign when negative. False when the file could not be written.
    bool writeInteger(const char* key, int value) const;
    // "1" or "0".
    bool writeBoolean(const char* key, bool value) const;
    bool writeText(const char* key, const QString& value) const;

private:
    QString m_path;
    PrivateProfile::Writer m_writer;
};
