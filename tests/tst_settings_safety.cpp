#include "monitor_rig.h"

#include "private_profile.h"
#include "tform2.h"

#include <QComboBox>
#include <QDir>
#include <QFileDevice>
#include <QtTest>

#include <csignal>
#include <memory>

#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// The settings survive an end in the middle of writing them and a disk that
// has no room: "parport.ini" is always a whole file, old or new.
namespace {

// A hand-edited file that each of the program's writes at its end changes:
// keys are added, or rewritten in the program's own spelling of their values.
const QByteArray HandEditedFile = "; my settings\r\n[MISC]\r\nHighColor=$FF0000\r\nLeft=0x0A\r\nTop=+20\r\n"
                                  "SampleRate=0x3\r\nBeeps=$5\r\n\r\n[Other]\r\nkeep=me\r\n";

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList entriesOf(const QString& directory)
{
    return QDir(directory).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden, QDir::Name);
}

// The end of the program as velkaro runs it: the bit-setting window first, then the main window.
void endProgram(MonitorRig& rig, std::unique_ptr<TForm2>& form2)
{
    form2.reset();
    rig.form.reset();
}

void startProgram(MonitorRig& rig, std::unique_ptr<TForm2>& form2)
{
    rig.start();
    form2 = std::make_unique<TForm2>(rig.channel, rig.desktop, rig.settings);
}

// Waits up to ten seconds for one byte from the pipe; false when none came.
bool awaitByte(int fd)
{
    pollfd ready{fd, POLLIN, 0};
    char byte = 0;
    return poll(&ready, 1, 10000) == 1 && read(fd, &byte, 1) == 1;
}

// Whether the process holds a file open in the directory besides the settings
// file itself: the new file, while it is being written.
bool isWritingIn(pid_t process, const QString& directory)
{
    const QString fds = QStringLiteral("/proc/%1/fd").arg(process);
    for (const QString& fd : QDir(fds).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        const QString target = QFile::symLinkTarget(fds + QLatin1Char('/') + fd);
        if (target.startsWith(directory + QLatin1Char('/')) && !target.endsWith(QLatin1String("/parport.ini")))
            return true;
    }
    return false;
}

void killAndReap(pid_t child)
{
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
}

// A file system of one page, mounted in a mount namespace of this process only.
class TinyFileSystem {
public:
    explicit TinyFileSystem(const QString& where) : m_where(where.toLocal8Bit())
    {
        m_mounted = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                    && mount("velkaro-test", m_where.constData(), "tmpfs", 0, "size=4k,mode=700") == 0;
    }
    ~TinyFileSystem()
    {
        if (m_mounted)
            umount2(m_where.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    QByteArray m_where;
    bool m_mounted = false;
};

// A limit on the size of every file this process writes; the kernel refuses a
// write past it (EFBIG) instead of sending SIGXFSZ, which is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{bytes, m_old.rlim_max};
        m_set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool set() const { return m_set; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_set = false;
};

}

class tst_settings_safety : public QObject {
    Q_OBJECT

private slots:
    void killedWhileWritingLeavesTheOldFile_data();
    void killedWhileWritingLeavesTheOldFile();
    void killedAtAnyMomentLeavesAWholeFile();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();
};

void tst_settings_safety::killedWhileWritingLeavesTheOldFile_data()
{
    QTest::addColumn<int>("write");    // which of the end's 13 writes is under way, from 1
    QTest::addColumn<double>("share"); // how much of its new file is on disk when killed

    const struct {
        int write;
        const char* key;
    } writes[] = {{1, "BitSetLeft"}, {2, "BitSetTop"}, {3, "HighColor"}, {9, "SampleRate"}, {13, "SampleBlink"}};
    const struct {
        double share;
        const char* moment;
    } moments[] = {{0.0, "before any byte"}, {0.01, "after the first bytes"}, {0.5, "halfway"}, {1.0, "before the rename"}};
    for (const auto& w : writes)
        for (const auto& m : moments)
            QTest::addRow("%s, %s", w.key, m.moment) << w.write << m.share;
}

void tst_settings_safety::killedWhileWritingLeavesTheOldFile()
{
    QFETCH(int, write);
    QFETCH(double, share);

    // What each write of a normal end leaves in the file.
    QList<QByteArray> states{HandEditedFile};
    {
        MonitorRig reference;
        reference.writeSettings(HandEditedFile);
        reference.settings = SettingsFile(reference.settings.path(), [&states](QIODevice& out, const QByteArray& content) {
            states << content;
            return out.write(content) == content.size();
        });
        std::unique_ptr<TForm2> form2;
        startProgram(reference, form2);
        endProgram(reference, form2);
        QCOMPARE(states.size(), 14);
        QCOMPARE(contentOf(reference.settings.path()), states.last());
        for (int i = 1; i < states.size(); ++i)
            QVERIFY2(states[i] != states[i - 1], "every write changes the file");
    }

    MonitorRig rig;
    rig.writeSettings(HandEditedFile);
    int toParent[2];
    QCOMPARE(pipe(toParent), 0);
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        int writes = 0;
        rig.settings = SettingsFile(rig.settings.path(), [&](QIODevice& out, const QByteArray& content) {
            if (++writes < write)
                return out.write(content) == content.size();
            out.write(content.left(qsizetype(content.size() * share)));
            qobject_cast<QFileDevice*>(&out)->flush();
            (void)!::write(toParent[1], "w", 1);
            for (;;)
                pause();
        });
        std::unique_ptr<TForm2> form2;
        startProgram(rig, form2);
        endProgram(rig, form2);
        _exit(3); // the write never came
    }
    close(toParent[1]);
    const bool writing = awaitByte(toParent[0]);
    killAndReap(child);
    close(toParent[0]);
    QVERIFY2(writing, "the child did not reach the write");

    QCOMPARE(contentOf(rig.settings.path()), states[write - 1]);

    // The next run reads the old file and ends with the whole new one.
    std::unique_ptr<TForm2> form2;
    startProgram(rig, form2);
    endProgram(rig, form2);
    QCOMPARE(contentOf(rig.settings.path()), states.last());
    QVERIFY(rig.desktop.messages.isEmpty());
}

void tst_settings_safety::killedAtAnyMomentLeavesAWholeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("parport.ini"));
    const QString first = QString(1500, QLatin1Char('1'));
    const QString second = QString(900, QLatin1Char('2'));
    QByteArray wholeFiles[2];
    for (int i = 0; i < 2; ++i) {
        QFile::remove(path);
        QVERIFY(PrivateProfile::writeString("misc", "Left", i ? second : first, path));
        wholeFiles[i] = contentOf(path);
    }

    int killedMidWrite = 0;
    for (int round = 0; round < 100; ++round) {
        int toParent[2];
        QCOMPARE(pipe(toParent), 0);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                PrivateProfile::writeString("misc", "Left", i % 2 ? second : first, path);
                if (i == 0)
                    (void)!::write(toParent[1], "w", 1);
            }
        }
        close(toParent[1]);
        const bool started = awaitByte(toParent[0]);
        close(toParent[0]);
        // Moments spread over several writes; the child is frozen there to see
        // whether a new file is open, then killed.
        usleep(static_cast<useconds_t>(round * 37 % 3000));
        kill(child, SIGSTOP);
        int status = 0;
        waitpid(child, &status, WUNTRACED);
        if (isWritingIn(child, dir.path()))
            ++killedMidWrite;
        killAndReap(child);
        QVERIFY(started);

        const QByteArray found = contentOf(path);
        QVERIFY2(found == wholeFiles[0] || found == wholeFiles[1],
                 qPrintable(QStringLiteral("round %1: %2 bytes").arg(round).arg(found.size())));
        // A kill between naming the new file and renaming it leaves that file behind.
        for (const QString& entry : entriesOf(dir.path()))
            if (entry != QLatin1String("parport.ini"))
                QVERIFY(entry.startsWith(QLatin1String("parport.ini.")) && QFile::remove(dir.filePath(entry)));
    }
    qInfo("%d of 100 kills came while a new file was open", killedMidWrite);
    QVERIFY2(killedMidWrite > 0, "no kill came while a new file was open");
}

void tst_settings_safety::fullDiskKeepsTheOldFile_data()
{
    QTest::addColumn<bool>("fileSystem"); // a full file system, or a file size limit

    QTest::newRow("file system of one page") << true;
    QTest::newRow("file size limit") << false;
}

void tst_settings_safety::fullDiskKeepsTheOldFile()
{
    QFETCH(bool, fileSystem);

    MonitorRig rig;
    std::unique_ptr<TinyFileSystem> tiny;
    if (fileSystem) {
        tiny = std::make_unique<TinyFileSystem>(rig.dir.path());
        if (!tiny->mounted())
            QSKIP("no permission to mount a file system");
    }
    rig.writeSettings(HandEditedFile);
    QCOMPARE(contentOf(rig.settings.path()), HandEditedFile);

    std::unique_ptr<TForm2> form2;
    startProgram(rig, form2);
    QCOMPARE(rig.form->SampleRate->currentIndex(), 3); // the old file was read
    {
        const FileSizeLimit limit(fileSystem ? RLIM_INFINITY : 16);
        QVERIFY(limit.set());
        endProgram(rig, form2);
    }

    // Each window reports its refused write once, and stops writing.
    QCOMPARE(rig.desktop.messages.size(), 2);
    for (const RecordingDesktopServices::Message& message : std::as_const(rig.desktop.messages)) {
        QCOMPARE(message.caption, QStringLiteral("Velkaro "));
        QCOMPARE(message.text, QStringLiteral("Unable to write to parport.ini."));
        QCOMPARE(message.icon, DesktopServices::Icon::Error);
    }
    QCOMPARE(contentOf(rig.settings.path()), HandEditedFile);
    QCOMPARE(entriesOf(rig.dir.path()), QStringList{QStringLiteral("parport.ini")});
}

QTEST_MAIN(tst_settings_safety)
#include "tst_settings_safety.moc"
