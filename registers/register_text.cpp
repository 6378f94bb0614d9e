#include "register_text.h"

#include "integer_text.h"
#include "port_address.h"

#include <QLocale>

#include <cmath>

QString DecText(std::uint8_t value)
{
    return QString::number(value);
}

QString HexText(std::uint8_t value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString BinText(std::uint8_t value)
{
    QString text(8, QLatin1Char('0'));
    for (int bit = 0; bit < 8; ++bit)
        if (value & (1u << bit))
            text[7 - bit] = QLatin1Char('1');
    return text;
}

QString AddressText(std::uint16_t address)
{
    return QString::fromLatin1(PortAddressText(address));
}

const QStringList& SampleRateItems()
{
    static const QStringList items = {
        QStringLiteral("Schnellst möglich  "), QStringLiteral("0.05 Sekund."), QStringLiteral("0.1 Sekund."),
        QStringLiteral("0.5 Sekund."),         QStringLiteral("1 Sekund"),     QStringLiteral("2 Sekund."),
        QStringLiteral("5 Sekund."),           QStringLiteral("10 Sekund."),   QStringLiteral("30 Sekund."),
        QStringLiteral("60 Sekund."),
    };
    return items;
}

int IntervalFromItem(const QString& item)
{
    const QString seconds = item.section(QLatin1Char(' '), 0, 0);
    return static_cast<int>(std::lround(QLocale::c().toDouble(seconds) * 1000.0));
}

std::uint8_t HexToByte(const QString& text)
{
    std::uint32_t value = 0;
    for (const QChar c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || value > 0x0FFFFFFF)
            break;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::uint8_t>(value);
}

std::uint8_t BinToByte(const QString& text)
{
    std::uint8_t value = 0;
    const qsizetype count = std::min<qsizetype>(text.size(), 8);
    for (qsizetype i = 0; i < count; ++i)
        if (text[text.size() - 1 - i] == QLatin1Char('1'))
            value |= static_cast<std::uint8_t>(1u << i);
    return value;
}
