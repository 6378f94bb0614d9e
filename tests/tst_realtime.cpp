#include "port_channel.h"
#include "realtime_scheduling.h"
#include "sampling_engine.h"
#include "sampling_threads.h"
#include "simulated_devices.h"
#include "simulated_port_platform.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <map>
#include <mutex>
#include <numeric>
#include <set>

#include <sched.h>
#include <unistd.h>

namespace {
// A machine's answers: what the process's limits allow, how many processors.
class FakeKernel : public SchedulingKernel {
public:
    bool mayRealtime = false; // RLIMIT_RTPRIO or CAP_SYS_NICE
    rlim_t rtprio = 0;
    int processorCount = 2;

    int makeRealtime(pid_t thread, int priority) override
    {
        const std::lock_guard lock(mutex);
        if (!mayRealtime)
            return EPERM;
        realtime[thread] = priority;
        return 0;
    }
    int makeNormal(pid_t thread) override
    {
        const std::lock_guard lock(mutex);
        realtime.erase(thread);
        madeNormal.insert(thread);
        return 0;
    }
    int getLimit(int resource, rlimit& limit) override
    {
        const std::lock_guard lock(mutex);
        limit = limits.count(resource) ? limits[resource] : rlimit{resource == RLIMIT_RTPRIO ? rtprio : RLIM_INFINITY,
                                                                   resource == RLIMIT_RTPRIO ? rtprio : RLIM_INFINITY};
        return 0;
    }
    int setLimit(int resource, const rlimit& limit) override
    {
        const std::lock_guard lock(mutex);
        limits[resource] = limit;
        return 0;
    }
    std::vector<int> processors() override
    {
        std::vector<int> all(static_cast<std::size_t>(processorCount));
        std::iota(all.begin(), all.end(), 0);
        return all;
    }
    pid_t processId() override { return 4242; }

    std::mutex mutex;
    std::map<pid_t, int> realtime;
    std::set<pid_t> madeNormal;
    std::map<int, rlimit> limits;
};

// rtkit as it answers: absent, refusing or granting, with its limits.
class FakeBroker : public RealtimeBroker {
public:
    enum Answer { Absent, Refuses, Grants } answer = Grants;
    int maxPriority = 20;
    long long rtTimeUSecMax = 200000;
    FakeKernel* kernel = nullptr;
    std::vector<std::pair<pid_t, int>> asked; // thread, priority

    std::optional<Offer> offer(std::string& why) override
    {
        if (answer == Absent) {
            why = "no system bus";
            return std::nullopt;
        }
        return Offer{maxPriority, rtTimeUSecMax};
    }
    bool makeThreadRealtime(pid_t process, pid_t thread, int priority, std::string& why) override
    {
        asked.emplace_back(thread, priority);
        // rtkit's own test: the process's hard RLIMIT_RTTIME within its maximum.
        rlimit limit{};
        kernel->getLimit(RLIMIT_RTTIME, limit);
        if (answer == Refuses || process != 4242 || limit.rlim_max > static_cast<rlim_t>(rtTimeUSecMax)) {
            why = "org.freedesktop.DBus.Error.AccessDenied: Operation not permitted";
            return false;
        }
        const std::lock_guard lock(kernel->mutex);
        kernel->realtime[thread] = priority;
        return true;
    }
};

// Counts the engine's runs and its blind stretches; ends after so many runs.
struct CountingSink : SampleSink {
    explicit CountingSink(long long runs) : runsLeft(runs) {}
    bool changed(std::int64_t, std::size_t, std::uint32_t, std::uint32_t) override { return true; }
    void blind(std::int64_t from, std::int64_t to) override { stretches.emplace_back(from, to); }
    bool runDone(std::int64_t, long long) override
    {
        runs.fetch_add(1, std::memory_order_relaxed);
        samplers.insert(gettid());
        return --runsLeft > 0;
    }
    long long runsLeft;
    std::atomic<long long> runs{0};
    std::set<pid_t> samplers; // the threads that sampled, in turn
    std::vector<std::pair<std::int64_t, std::int64_t>> stretches;
};

// A simulated port and an engine over it, for the threads to take turns at.
struct EngineRig {
    EngineRig()
    {
        platform.setLogging(false);
        platform.addPort(0x378).attach(std::make_unique<CountingDevice>());
        channel.OpenPortChannel();
    }
    SimulatedPortPlatform platform;
    PortChannel channel{platform};
    SamplingEngine engine{channel, {{0x378, false}}};
};
}

class TestRealtime : public QObject {
    Q_OBJECT

private slots:
    void init() { qunsetenv("VELKARO_SCHEDULING"); }
    void cleanup() { qputenv("VELKARO_SCHEDULING", "normal"); }

    void routesAreTriedInTurn_data();
    void routesAreTriedInTurn();
    void theLimitsRtkitWantsAreSet();
    void oneProcessorStaysNormal();
    void aPauseIsHandedOnAsBlind();
    void theClockStartsAtTheFirstSample();
    void theKernelsWarningMakesBothNormal();
    void turnsOnThisKernel();
    void thisKernelWarnsASpinningThread();
};

void TestRealtime::routesAreTriedInTurn_data()
{
    QTest::addColumn<bool>("mayRealtime");
    QTest::addColumn<int>("rtprio");
    QTest::addColumn<int>("broker"); // -1: none
    QTest::addColumn<QString>("text");
    const int none = -1;
    QTest::newRow("own limits first, at most their priority")
        << true << 5 << int(FakeBroker::Grants) << "real-time (SCHED_RR 5, the process's own limits, 2 threads taking turns)";
    QTest::newRow("CAP_SYS_NICE: the full priority, below the sound servers'")
        << true << 0 << int(FakeBroker::Grants) << "real-time (SCHED_RR 19, the process's own limits, 2 threads taking turns)";
    QTest::newRow("then rtkit") << false << 0 << int(FakeBroker::Grants)
                                << "real-time (SCHED_RR 19, through rtkit, 2 threads taking turns)";
    QTest::newRow("rtkit refuses")
        << false << 0 << int(FakeBroker::Refuses)
        << "normal priority (the process's own limits allow none (RLIMIT_RTPRIO 0, no CAP_SYS_NICE: Operation not "
           "permitted); rtkit refused: org.freedesktop.DBus.Error.AccessDenied: Operation not permitted)";
    QTest::newRow("no rtkit") << false << 0 << int(FakeBroker::Absent)
                              << "normal priority (the process's own limits allow none (RLIMIT_RTPRIO 0, no "
                                 "CAP_SYS_NICE: Operation not permitted); rtkit: no system bus)";
    QTest::newRow("no broker asked")
        << false << 0 << none
        << "normal priority (the process's own limits allow none (RLIMIT_RTPRIO 0, no CAP_SYS_NICE: Operation not "
           "permitted); rtkit is not asked here)";
}

void TestRealtime::routesAreTriedInTurn()
{
    QFETCH(bool, mayRealtime);
    QFETCH(int, rtprio);
    QFETCH(int, broker);
    QFETCH(QString, text);
    FakeKernel kernel;
    kernel.mayRealtime = mayRealtime;
    kernel.rtprio = static_cast<rlim_t>(rtprio);
    FakeBroker rtkit;
    rtkit.kernel = &kernel;
    if (broker >= 0)
        rtkit.answer = static_cast<FakeBroker::Answer>(broker);
    const Scheduling scheduling = GrantRealtime(kernel, broker >= 0 ? &rtkit : nullptr, {101, 102});
    QCOMPARE(QString::fromStdString(SchedulingText(scheduling)), text);
    // Each thread or none.
    QCOMPARE(kernel.realtime.size(), scheduling.realtime() ? std::size_t{2} : std::size_t{0});
}

void TestRealtime::theLimitsRtkitWantsAreSet()
{
    FakeKernel kernel;
    FakeBroker rtkit;
    rtkit.kernel = &kernel;
    rtkit.rtTimeUSecMax = 150000; // a stricter daemon than the default
    rtkit.maxPriority = 10;
    const Scheduling scheduling = GrantRealtime(kernel, &rtkit, {101});
    QVERIFY(scheduling.realtime());
    QCOMPARE(kernel.limits[RLIMIT_RTTIME].rlim_max, rlim_t{150000});
    QCOMPARE(kernel.limits[RLIMIT_RTTIME].rlim_cur, rlim_t{75000}); // the warning long before the kill
    QCOMPARE(rtkit.asked, (std::vector<std::pair<pid_t, int>>{{101, 10}}));

    qputenv("VELKARO_SCHEDULING", "normal");
    FakeKernel asked;
    asked.mayRealtime = true;
    QVERIFY(!GrantRealtime(asked, nullptr, {101}).realtime());
    QVERIFY(asked.limits.empty()); // nothing touched
}

void TestRealtime::oneProcessorStaysNormal()
{
    FakeKernel kernel;
    kernel.mayRealtime = true;
    kernel.processorCount = 1;
    EngineRig rig;
    CountingSink sink(100);
    SamplingThreads threads(rig.engine, sink);
    QCOMPARE(QString::fromStdString(SchedulingText(threads.prepare(kernel, nullptr))),
             QStringLiteral("normal priority (one processor: a real-time sampler would leave the rest of the machine none)"));
    QVERIFY(kernel.realtime.empty());
    threads.go();
    threads.waitUntilEnded();
}

// A pause on purpose (a holder whose partner failed to come) is blind however short.
void TestRealtime::aPauseIsHandedOnAsBlind()
{
    EngineRig rig;
    CountingSink sink(3);
    rig.engine.begin();
    QVERIFY(rig.engine.step(sink, {}));
    const std::int64_t pauseFrom = rig.engine.lastStamped();
    rig.engine.pausing();
    QVERIFY(rig.engine.step(sink, {}));
    QVERIFY(!rig.engine.step(sink, {})); // the sink's end
    // Only the pause is blind though short; a busy machine may add a real stall.
    int pauses = 0;
    for (const auto& [from, to] : sink.stretches) {
        if (from == pauseFrom)
            ++pauses;
        else
            QVERIFY2(to - from > SamplingEngine::ShortestBlind, qPrintable(QString::number(to - from)));
    }
    QCOMPARE(pauses, 1);
}

// Whatever passed between the engine's making and its first sample (threads
// made and scheduled, rtkit asked) is neither blind nor part of the record.
void TestRealtime::theClockStartsAtTheFirstSample()
{
    EngineRig rig;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CountingSink sink(1);
    rig.engine.begin();
    QVERIFY(!rig.engine.step(sink, {}));
    for (const auto& [from, to] : sink.stretches) // a busy machine's own stalls are shorter
        QVERIFY2(to - from < 20'000'000, qPrintable(QString::number(to - from)));
    QVERIFY2(rig.engine.lastStamped() < 10'000'000, qPrintable(QString::number(rig.engine.lastStamped())));
}

void TestRealtime::theKernelsWarningMakesBothNormal()
{
    FakeKernel kernel;
    kernel.mayRealtime = true;
    EngineRig rig;
    CountingSink sink(std::numeric_limits<long long>::max());
    SamplingThreads threads(rig.engine, sink);
    QVERIFY(threads.prepare(kernel, nullptr).realtime());
    threads.go();
    QTest::qWait(20);
    std::raise(SIGXCPU); // as the kernel does at the soft RLIMIT_RTTIME
    QTRY_VERIFY(!threads.scheduling().realtime());
    QCOMPARE(QString::fromStdString(SchedulingText(threads.scheduling())),
             QStringLiteral("normal priority (the kernel withdrew real-time (SIGXCPU: a sampling thread ran to the soft "
                            "RLIMIT_RTTIME without blocking))"));
    {
        const std::lock_guard lock(kernel.mutex);
        QCOMPARE(kernel.madeNormal.size(), std::size_t{2});
    }
    // And it samples on.
    const long long before = sink.runs.load();
    QTest::qWait(20);
    QVERIFY(!threads.ended());
    QVERIFY(sink.runs.load() > before);
}

// Real-time as root: both threads take turns, the port stays sampled (but
// for what the host of a virtual machine may take), and the kernel never has to warn.
void TestRealtime::turnsOnThisKernel()
{
    LinuxSchedulingKernel kernel;
    if (kernel.processors().size() < 2)
        QSKIP("one processor: no turns");
    EngineRig rig;
    CountingSink sink(std::numeric_limits<long long>::max());
    SamplingThreads threads(rig.engine, sink);
    const int warnings = RealtimeWarnings();
    const Scheduling scheduling = threads.prepare(kernel, nullptr);
    if (!scheduling.realtime())
        QSKIP(qPrintable(QString::fromStdString("not allowed here: " + scheduling.why)));
    QCOMPARE(scheduling.threads, 2);
    threads.go();
    QTest::qWait(300);
    threads.stop();
    QCOMPARE(RealtimeWarnings(), warnings);
    QCOMPARE(sink.samplers.size(), std::size_t{2});
    std::int64_t blind = 0;
    for (const auto& [from, to] : sink.stretches)
        blind += to - from;
    QVERIFY2(blind < rig.engine.lastStamped() / 20, qPrintable(QStringLiteral("%1 ns blind of %2").arg(blind).arg(rig.engine.lastStamped())));
}

// What the turns avoid: a thread that runs real-time without blocking gets
// SIGXCPU at the soft limit, and the handler makes it normal there and then,
// long before the hard limit kills the process, wherever the thread is.
void TestRealtime::thisKernelWarnsASpinningThread()
{
    LinuxSchedulingKernel kernel;
    const int warnings = RealtimeWarnings();
    std::atomic<pid_t> id{0};
    std::atomic<bool> go{false};
    std::atomic<int> policyAtEnd{-1};
    std::jthread spinner([&] {
        id = static_cast<pid_t>(gettid());
        id.notify_all();
        go.wait(false);
        // Beyond the hard limit, never looking at the warnings.
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(350);
        while (std::chrono::steady_clock::now() < until) {
        }
        policyAtEnd = sched_getscheduler(0) & ~SCHED_RESET_ON_FORK;
        ForgetRealtimeThread(static_cast<pid_t>(gettid()));
    });
    id.wait(0);
    const Scheduling scheduling = GrantRealtime(kernel, nullptr, {id.load()});
    go = true;
    go.notify_all();
    spinner.join();
    if (!scheduling.realtime())
        QSKIP(qPrintable(QString::fromStdString("not allowed here: " + scheduling.why)));
    QVERIFY(RealtimeWarnings() > warnings);
    QCOMPARE(policyAtEnd.load(), SCHED_OTHER);
}

QTEST_GUILESS_MAIN(TestRealtime)
#include "tst_realtime.moc"
