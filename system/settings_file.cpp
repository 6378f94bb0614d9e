#include "settings_file.h"

#include "integer_text.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {
const QString Section = QStringLiteral("misc");

std::optional<std::int32_t> readStored(const QString& path, const char* key)
{
    return ParseInteger(PrivateProfile::readString(Section, QString::fromLatin1(key), QString(), path));
}
}

QString SettingsFile::defaultPath()
{
    // Named here, not taken from the application name: velkaro-sim runs under a
    // name of its own and keeps velkaro's settings.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/velkaro/parport.ini");
}

int SettingsFile::readInteger(const char* key, int defaultValue) const
{
    return readStored(m_path, key).value_or(defaultValue);
}

std::optional<int> SettingsFile::readCoordinate(const char* key) const
{
    const std::optional<std::int32_t> value = readStored(m_path, key);
    if (!value)
        return std::nullopt;
    return std::clamp(*value, -MaxCoordinate, MaxCoordinate);
}

bool SettingsFile::readBoolean(const char* key, bool defaultValue) const
{
    return readInteger(key, defaultValue ? 1 : 0) != 0;
}

bool SettingsFile::writeInteger(const char* key, int value) const
{
    return PrivateProfile::writeString(Section, QString::fromLatin1(key), QString::number(value), m_path, m_writer);
}

QString SettingsFile::readText(const char* key, const QString& defaultValue) const
{
    return PrivateProfile::readString(Section, QString::fromLatin1(key), defaultValue, m_path);
}

bool SettingsFile::writeText(const char* key, const QString& value) const
{
    return PrivateProfile::writeString(Section, QString::fromLatin1(key), value, m_path, m_writer);
}

bool SettingsFile::writeBoolean(const char* key, bool value) const
{
    return writeInteger(key, value ? 1 : 0);
}

QString SettingsFile::writeFailureText() const
{
    return QStringLiteral("Unable to write to %1.").arg(QFileInfo(m_path).fileName());
}
