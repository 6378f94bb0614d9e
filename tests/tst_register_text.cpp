#include "register_text.h"

#include <QtTest>

#include <bitset>

class tst_register_text : public QObject {
    Q_OBJECT

private slots:
    void cellTextsOfEveryByte()
    {
        for (int value = 0; value < 256; ++value) {
            const auto byte = static_cast<std::uint8_t>(value);
            QCOMPARE(DecText(byte), QString::fromStdString(std::to_string(value)));
            QCOMPARE(HexText(byte), QString::asprintf("%02X", value));
            QCOMPARE(BinText(byte), QString::fromStdString(std::bitset<8>(value).to_string()));
        }
        QCOMPARE(BinText(5), QStringLiteral("00000101"));
        QCOMPARE(HexText(10), QStringLiteral("0A"));
    }

    void addressTextsHaveThreeUpperCaseDigits()
    {
        for (int base = 0; base < 256; ++base)
            QCOMPARE(AddressText(static_cast<std::uint16_t>(base)), QString::asprintf("%03X", base));
        QCOMPARE(AddressText(0x3BC), QStringLiteral("3BC"));
        QCOMPARE(AddressText(0x3BE), QStringLiteral("3BE"));
        QCOMPARE(AddressText(0xFFFF), QStringLiteral("FFFF"));
    }

    void intervalOfEverySampleRate()
    {
        const QList<int> expected = {50, 100, 500, 1000, 2000, 5000, 10000, 30000, 60000};
        QCOMPARE(SampleRateItems().size(), 10);
        QCOMPARE(SampleRateItems().first(), QStringLiteral("Schnellst möglich  "));
        for (int item = 1; item < 10; ++item)
            QCOMPARE(IntervalFromItem(SampleRateItems()[item]), expected[item - 1]);
    }

    void hexReading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("letters that are no digits") << "zz" << 0;
        QTest::newRow("mixed case, low eight bits") << "1fF" << 0xFF;
        QTest::newRow("leading blank stops at once") << " 10" << 0;
        QTest::newRow("0x prefix stops after its 0") << "0x1F" << 0;
        QTest::newRow("dollar prefix") << "$1F" << 0;
        QTest::newRow("trailing words ignored") << "A5 and more" << 0xA5;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("eight digits keep the last byte") << "123456AB" << 0xAB;
        QTest::newRow("ninth digit would pass 32 bits") << "123456789" << 0x78;
        QTest::newRow("leading zeros") << "0000000000FF" << 0xFF;
    }

    void hexReading()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(int(HexToByte(text)), value);
    }

    void binaryReading_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("a 2 is no one") << "2" << 0;
        QTest::newRow("top bit") << "10000000" << 128;
        QTest::newRow("a ninth character adds nothing") << "110000000" << 128;
        QTest::newRow("other characters count as zero") << "1x1" << 5;
        QTest::newRow("nine ones") << "111111111" << 255;
        QTest::newRow("short text") << "101" << 5;
        QTest::newRow("empty") << "" << 0;
    }

    void binaryReading()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(int(BinToByte(text)), value);
    }

    // Against a plain reference of the two grammars, over many random texts.
    void readingsMatchReferenceOnRandomTexts()
    {
        const QString alphabet = QStringLiteral("0123456789abcdefABCDEFxX$+- g");
        QRandomGenerator random(4711);
        for (int round = 0; round < 20000; ++round) {
            QString text;
            const int length = random.bounded(12);
            for (int i = 0; i < length; ++i)
                text += alphabet[random.bounded(alphabet.size())];

            quint64 hex = 0;
            for (const QChar c : text) {
                bool ok = false;
                const int digit = QString(c).toInt(&ok, 16);
                if (!ok || hex > 0x0FFFFFFF)
                    break;
                hex = hex * 16 + digit;
            }
            QCOMPARE(int(HexToByte(text)), int(hex & 0xFF));

            int bin = 0;
            for (int i = 0; i < 8 && i < text.size(); ++i)
                if (text[text.size() - 1 - i] == QLatin1Char('1'))
                    bin += 1 << i;
            QCOMPARE(int(BinToByte(text)), bin);
        }
    }
};

QTEST_APPLESS_MAIN(tst_register_text)
#include "tst_register_text.moc"
