#include "private_profile.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
// A byte string that may hold NUL bytes.
template <qsizetype N>
QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void putFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

// Makes a directory refuse new files for the lifetime of the object, also to root:
// its mode loses the write bits and this thread gives up the capability to
// override file modes. Both come back at the end.
class RefusingDirectory {
public:
    explicit RefusingDirectory(const QString& path) : m_dir(path), m_mode(QFile::permissions(path))
    {
        QFile::setPermissions(path, m_mode & ~(QFile::WriteOwner | QFile::WriteUser | QFile::WriteGroup | QFile::WriteOther));
        m_overriding = syscall(SYS_capget, &m_header, m_caps) == 0 && (m_caps[0].effective & (1u << CAP_DAC_OVERRIDE));
        if (m_overriding) {
            __user_cap_data_struct without[2] = {m_caps[0], m_caps[1]};
            without[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
            m_overriding = syscall(SYS_capset, &m_header, without) == 0;
        }
    }
    ~RefusingDirectory()
    {
        if (m_overriding)
            syscall(SYS_capset, &m_header, m_caps);
        QFile::setPermissions(m_dir, m_mode);
    }
    bool refuses() const { return !QFile(m_dir + QStringLiteral("/probe")).open(QIODevice::WriteOnly); }

private:
    QString m_dir;
    QFile::Permissions m_mode;
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_caps[2]{};
    bool m_overriding = false;
};

// Writes half the content and then reports failure, as a disk that fills up would.
bool failHalfway(QIODevice& out, const QByteArray& content)
{
    out.write(content.left(content.size() / 2));
    return false;
}
}

class tst_private_profile : public QObject {
    Q_OBJECT

private slots:
    void init();

    void read_data();
    void read();
    void readMissingFile();

    void write_data();
    void write();
    void writeCreatesFileAndDirectory();
    void refusedWriteLeavesFilesAlone_data();
    void refusedWriteLeavesFilesAlone();
    void failedWriterKeepsOldFile();
    void writableFileInRefusingDirectoryIsWrittenInPlace();

    void settingsInteger_data();
    void settingsInteger();
    void settingsBoolean_data();
    void settingsBoolean();
    void settingsRoundTrip();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_ini;
};

void tst_private_profile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ini = m_dir->filePath("parport.ini");
}

void tst_private_profile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QString d = "default";
    QTest::newRow("names ignore case") << QByteArray("[MiSc]\nPORT=888\n") << "misc" << "port" << "888";
    QTest::newRow("blanks around line, name, key and value")
        << QByteArray(" \t[ misc ]\t\n\t Port \t=  888 \t\n") << "misc" << "Port" << "888";
    QTest::newRow("outer double quotes removed") << QByteArray("[misc]\nk=\" a b \"\n") << "misc" << "k" << " a b ";
    QTest::newRow("outer single quotes removed") << QByteArray("[misc]\nk='x'\n") << "misc" << "k" << "x";
    QTest::newRow("only one pair removed") << QByteArray("[misc]\nk=\"\"x\"\"\n") << "misc" << "k" << "\"x\"";
    QTest::newRow("unmatched quotes kept") << QByteArray("[misc]\nk='x\"\n") << "misc" << "k" << "'x\"";
    QTest::newRow("lone quote kept") << QByteArray("[misc]\nk=\"\n") << "misc" << "k" << "\"";
    QTest::newRow("value holds later '='") << QByteArray("[misc]\nk=a=b\n") << "misc" << "k" << "a=b";
    QTest::newRow("comment is no key") << QByteArray("[misc]\n \t;k=1\nk=2\n") << "misc" << "k" << "2";
    QTest::newRow("header name runs to the last ]")
        << QByteArray("[misc] ; see [x]\nk=1\n[misc]\nk=2\n") << "misc" << "k" << "2";
    QTest::newRow("'[' without ']' opens no section")
        << QByteArray("[misc\nk=1\n[misc]\nk=2\n") << "misc" << "k" << "2";
    QTest::newRow("key without '=' has no value and hides later ones")
        << QByteArray("[misc]\nk01\nk01=1\n") << "misc" << "k01" << d;
    QTest::newRow("Ctrl+Z, vertical tab and form feed are blanks")
        << QByteArray("\v[misc]\f\n\x1Ak\v=\f1\x1A\n") << "misc" << "k" << "1";
    QTest::newRow("only first section of a name")
        << QByteArray("[misc]\na=1\n[other]\nk=1\n[MISC]\nk=2\n") << "misc" << "k" << d;
    QTest::newRow("first matching key") << QByteArray("[misc]\nk=1\nK=2\n") << "misc" << "k" << "1";
    QTest::newRow("key before any section") << QByteArray("k=1\n[misc]\n") << "misc" << "k" << d;
    QTest::newRow("key of the next section") << QByteArray("[misc]\n[b]\nk=1\n") << "misc" << "k" << d;
    QTest::newRow("empty value is no default") << QByteArray("[misc]\nk=  \n") << "misc" << "k" << "";
    QTest::newRow("CRLF line ends") << QByteArray("[misc]\r\na=1\r\nk=2\r\n") << "misc" << "k" << "2";
    QTest::newRow("CR line ends") << QByteArray("[misc]\ra=1\rk=2\r") << "misc" << "k" << "2";
    QTest::newRow("last line without line end") << QByteArray("[misc]\nk=3") << "misc" << "k" << "3";
    QTest::newRow("value cut at 2047 characters")
        << "[misc]\nk=" + QByteArray(3000, '7') + '\n' << "misc" << "k" << QString(2047, '7');
    QTest::newRow("byte-order mark skipped") << QByteArray("\xEF\xBB\xBF[misc]\nk=1\n") << "misc" << "k" << "1";
    QTest::newRow("value decoded as UTF-8") << QByteArray("[misc]\nk=Gr\xC3\xBCn\n") << "misc" << "k" << "Grün";
    QTest::newRow("NUL ends the value")
        << raw("[misc]\n\0\nk=12\0 34\n") << "misc" << "k" << "12";
    QTest::newRow("missing section") << QByteArray("[other]\nk=1\n") << "misc" << "k" << d;
    QTest::newRow("empty file") << QByteArray() << "misc" << "k" << d;
}

void tst_private_profile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);

    putFile(m_ini, content);
    QCOMPARE(PrivateProfile::readString(section, key, "default", m_ini), expected);
}

void tst_private_profile::readMissingFile()
{
    QCOMPARE(PrivateProfile::readString("misc", "k", "default", m_ini), "default");
    QVERIFY(!QFile::exists(m_ini));
}

void tst_private_profile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("empty file gets the section")
        << QByteArray() << "key" << "value" << QByteArray("[misc]\nkey=value\n");
    QTest::newRow("value replaced in place, spelling and blanks kept")
        << QByteArray("; top\n[MISC]\n  PoRt = 888  \nx=1\n") << "port" << "632"
        << QByteArray("; top\n[MISC]\n  PoRt = 632  \nx=1\n");
    QTest::newRow("quoted value replaced whole") << QByteArray("[misc]\nk=\"old\"\n") << "k" << "new"
                                                 << QByteArray("[misc]\nk=new\n");
    QTest::newRow("empty value filled") << QByteArray("[misc]\nk=\t\n") << "k" << "5"
                                        << QByteArray("[misc]\nk=5\t\n");
    QTest::newRow("value written as given") << QByteArray("[misc]\nk=1\n") << "k" << " a "
                                            << QByteArray("[misc]\nk= a \n");
    QTest::newRow("CRLF file keeps its line ends")
        << QByteArray("[misc]\r\na=1\r\n\r\n[b]\r\nk=2\r\n") << "k" << "3"
        << QByteArray("[misc]\r\na=1\r\nk=3\r\n\r\n[b]\r\nk=2\r\n");
    QTest::newRow("CR file keeps its line ends") << QByteArray("[misc]\ra=1\r") << "k" << "3"
                                                 << QByteArray("[misc]\ra=1\rk=3\r");
    QTest::newRow("new key after the section's last entry")
        << QByteArray("[misc]\na=1\nno value\n; note\n\n[b]\nc=2\n") << "k" << "3"
        << QByteArray("[misc]\na=1\nno value\nk=3\n; note\n\n[b]\nc=2\n");
    QTest::newRow("key without '=' gets its value")
        << QByteArray("[misc]\nk \nk=1\n") << "k" << "3" << QByteArray("[misc]\nk=3 \nk=1\n");
    QTest::newRow("'[' without ']' is no section")
        << QByteArray("[misc\nj=1\n") << "k" << "3" << QByteArray("[misc\nj=1\n[misc]\nk=3\n");
    QTest::newRow("new key right after a header without entries")
        << QByteArray("[misc]\n; note\n[b]\n") << "k" << "3" << QByteArray("[misc]\nk=3\n; note\n[b]\n");
    QTest::newRow("last line gets a line end") << QByteArray("[misc]\na=1") << "k" << "3"
                                               << QByteArray("[misc]\na=1\nk=3\n");
    QTest::newRow("missing section appended") << QByteArray("[b]\r\nk=1\r\n") << "k" << "3"
                                              << QByteArray("[b]\r\nk=1\r\n[misc]\r\nk=3\r\n");
    QTest::newRow("section appended after line without end") << QByteArray("[b]\nk=1") << "k" << "3"
                                                             << QByteArray("[b]\nk=1\n[misc]\nk=3\n");
    QTest::newRow("first of repeated sections and keys")
        << QByteArray("[misc]\nk=1\nk=2\n[misc]\nk=4\n") << "k" << "3"
        << QByteArray("[misc]\nk=3\nk=2\n[misc]\nk=4\n");
    QTest::newRow("byte-order mark kept") << QByteArray("\xEF\xBB\xBF[misc]\nk=1\n") << "k" << "2"
                                          << QByteArray("\xEF\xBB\xBF[misc]\nk=2\n");
    QTest::newRow("foreign bytes and NUL kept")
        << raw("[misc]\nn=\xFF\xFE\nk=12\0junk\n") << "k" << "5"
        << raw("[misc]\nn=\xFF\xFE\nk=5\0junk\n");
}

void tst_private_profile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);

    putFile(m_ini, before);
    QVERIFY(PrivateProfile::writeString("misc", key, value, m_ini));
    QCOMPARE(bytesOf(m_ini), after);
}

void tst_private_profile::writeCreatesFileAndDirectory()
{
    const QString path = m_dir->filePath("new/config/parport.ini");
    QVERIFY(PrivateProfile::writeString("misc", "key", "value", path));
    QCOMPARE(bytesOf(path), QByteArray("[misc]\nkey=value\n"));
}

void tst_private_profile::refusedWriteLeavesFilesAlone_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("file");

    QTest::newRow("directory taken by a plain file") << "cfg" << "cfg/parport.ini";
    QTest::newRow("file name taken by a directory") << "" << "parport.ini";
}

void tst_private_profile::refusedWriteLeavesFilesAlone()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, file);

    const QString path = m_dir->filePath(file);
    if (obstacle.isEmpty())
        QVERIFY(QDir().mkpath(path));
    else
        putFile(m_dir->filePath(obstacle), "keep");
    const QStringList entries = QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);

    QVERIFY(!PrivateProfile::writeString("misc", "k", "1", path));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), entries);
    if (!obstacle.isEmpty())
        QCOMPARE(bytesOf(m_dir->filePath(obstacle)), QByteArray("keep"));
}

void tst_private_profile::failedWriterKeepsOldFile()
{
    const QByteArray old = "[misc]\r\nPort=888\r\n";
    putFile(m_ini, old);

    QVERIFY(!PrivateProfile::writeString("misc", "Port", "632", m_ini, failHalfway));
    QCOMPARE(bytesOf(m_ini), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"parport.ini"});
    QVERIFY(!SettingsFile(m_ini, failHalfway).writeInteger("Port", 632));
    QCOMPARE(bytesOf(m_ini), old);
}

void tst_private_profile::writableFileInRefusingDirectoryIsWrittenInPlace()
{
    putFile(m_ini, "[misc]\nPort=888\nLeft=12345\n");
    bool written = false;
    {
        const RefusingDirectory refusing(m_dir->path());
        QVERIFY(refusing.refuses());
        written = PrivateProfile::writeString("misc", "Port", "6", m_ini);
    }
    QVERIFY(written);
    QCOMPARE(bytesOf(m_ini), QByteArray("[misc]\nPort=6\nLeft=12345\n"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"parport.ini"});
}

void tst_private_profile::settingsInteger_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("expected");

    QTest::newRow("decimal") << QByteArray("Port=888") << 888;
    QTest::newRow("0x prefix") << QByteArray("Port=0x3") << 3;
    QTest::newRow("$ prefix") << QByteArray("Port=$1F") << 31;
    QTest::newRow("quoted number") << QByteArray("Port=\"632\"") << 632;
    QTest::newRow("not an integer") << QByteArray("Port=yes") << 42;
    QTest::newRow("empty value") << QByteArray("Port=") << 42;
    QTest::newRow("missing key") << QByteArray("Other=1") << 42;
}

void tst_private_profile::settingsInteger()
{
    QFETCH(QByteArray, line);
    QFETCH(int, expected);

    putFile(m_ini, "[misc]\n" + line + '\n');
    QCOMPARE(SettingsFile(m_ini).readInteger("Port", 42), expected);
}

void tst_private_profile::settingsBoolean_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("defaultValue");
    QTest::addColumn<bool>("expected");

    QTest::newRow("any number but 0 is true") << QByteArray("5") << false << true;
    QTest::newRow("0 is false") << QByteArray("0") << true << false;
    QTest::newRow("text gives default true") << QByteArray("yes") << true << true;
    QTest::newRow("text gives default false") << QByteArray("yes") << false << false;
}

void tst_private_profile::settingsBoolean()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, defaultValue);
    QFETCH(bool, expected);

    putFile(m_ini, "[misc]\nOnTop=" + value + '\n');
    QCOMPARE(SettingsFile(m_ini).readBoolean("OnTop", defaultValue), expected);
}

void tst_private_profile::settingsRoundTrip()
{
    const SettingsFile settings(m_dir->filePath("sub/parport.ini"));
    QVERIFY(settings.writeInteger("Left", -5000));
    QVERIFY(settings.writeInteger("LowColor", 65280));
    QVERIFY(settings.writeBoolean("OnTop", true));
    QVERIFY(settings.writeBoolean("DisableCon", false));
    QCOMPARE(bytesOf(settings.path()), QByteArray("[misc]\nLeft=-5000\nLowColor=65280\nOnTop=1\nDisableCon=0\n"));
    QCOMPARE(settings.readInteger("left", 0), -5000);
    QCOMPARE(settings.readBoolean("OnTop", false), true);
    QCOMPARE(settings.readBoolean("DisableCon", true), false);
}

QTEST_APPLESS_MAIN(tst_private_profile)
#include "tst_private_profile.moc"
