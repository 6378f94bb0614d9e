#include "settings_file.h"

#include "integer_text.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace {
const QString Section = QStringLiteral("misc");
}

QString SettingsFile::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/parport.ini");
}

int SettingsFile::readInteger(const char* key, int defaultValue) const
{
    const QString text = PrivateProfile::readString(Section, QString::fromLatin1(key), QString(), m_path);
    return ParseInteger(text).value_or(defaultValue);
}

int SettingsFile::readCoordinate(const char* key, int defaultValue) const
{
    return std::clamp(readInteger(key, defaultValue), -MaxCoordinate, MaxCoordinate);
}

bool SettingsFile::readBoolean(const char* key, bool defaultValue) const
{
    return readInteger(key, defaultValue ? 1 : 0) != 0;
}

bool SettingsFile::writeInteger(const char* key, int value) const
{
    return PrivateProfile::writeString(Section, QString::fromLatin1(key), QString::number(value), m_path, m_writer);
}

bool SettingsFile::writeBoolean(const char* key, bool value) const
{
    return writeInteger(key, value ? 1 : 0);
}

QString SettingsFile::writeFailureText() const
{
    return QStringLiteral("Unable to write to %1.").arg(QFileInfo(m_path).fileName());
}
