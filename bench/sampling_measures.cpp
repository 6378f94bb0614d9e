#include "sampling_measures.h"

#include "bench_rig.h"
#include "cell_panel.h"
#include "process_usage.h"
#include "statistics.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace {
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::unique_ptr<BenchRig> makeRig(Registers registers)
{
    auto rig = std::make_unique<BenchRig>();
    if (registers == Registers::Counting)
        rig->attachCountingDevice();
    return rig;
}

// Counts a window's sampling steps from its creation on, and refuses any other
// path than the one measured: one four-byte read per step, no byte reads.
class StepCounter {
public:
    explicit StepCounter(const CountedPortPlatform& platform) : m_platform(platform), m_start(platform.reads()) {}

    long long steps() const
    {
        const CountedPortPlatform::Reads reads = m_platform.reads();
        if (reads.byte != m_start.byte)
            throw std::runtime_error("sampling made byte reads: the one-read path was not the one measured");
        return reads.dword - m_start.dword;
    }
    // The steps, which must be some.
    long long someSteps() const
    {
        const long long count = steps();
        if (count <= 0)
            throw std::runtime_error("no sampling step ran");
        return count;
    }

private:
    const CountedPortPlatform& m_platform;
    CountedPortPlatform::Reads m_start;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    long long paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A window whose idle hook takes turns with other windows' hooks, and what it counts in its turns.
struct IdleContender {
    std::unique_ptr<BenchRig> rig;
    std::function<long long()> count;
    long long counted = 0;
    double seconds = 0;

    double rate() const { return static_cast<double>(counted) / seconds; }
};

IdleContender ceilingContender()
{
    IdleContender contender;
    contender.rig = std::make_unique<BenchRig>();
    TForm1& form = *contender.rig->form;
    QObject::disconnect(form.IdleHook, &QTimer::timeout, &form, &TForm1::IdleSample);
    auto loops = std::make_shared<long long>(0);
    QObject::connect(form.IdleHook, &QTimer::timeout, &form, [loops] { ++*loops; });
    contender.count = [loops] { return *loops; };
    return contender;
}

IdleContender samplingContender(Registers registers)
{
    IdleContender contender;
    contender.rig = makeRig(registers);
    contender.count = [counter = StepCounter(contender.rig->platform)] { return counter.steps(); };
    return contender;
}

void takeTurn(IdleContender& contender, double seconds)
{
    const long long before = contender.count();
    contender.rig->form->IdleHook->start();
    contender.seconds += runEventLoop(seconds);
    contender.rig->form->IdleHook->stop();
    contender.counted += contender.count() - before;
}

template <typename Call>
double nanosecondsPerCall(long calls, Call call)
{
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < calls; ++i)
        call();
    return secondsSince(start) * 1e9 / static_cast<double>(calls);
}

// A left press and release in the middle of the widget, queued as the window system would deliver them.
void postClick(QWidget* widget)
{
    const QPointF local = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(local);
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonPress, local, global, Qt::LeftButton,
                                                        Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(widget, new QMouseEvent(QEvent::MouseButtonRelease, local, global, Qt::LeftButton,
                                                        Qt::NoButton, Qt::NoModifier));
}
}

IdleLoopRates idleLoopRates(double secondsEach, int turnsEach)
{
    std::array<IdleContender, 3> contenders = {ceilingContender(), samplingContender(Registers::Unchanging),
                                               samplingContender(Registers::Counting)};
    for (IdleContender& contender : contenders)
        contender.rig->form->IdleHook->stop();
    PaintCounter countingCell(contenders[2].rig->form->PortDec[0]);
    for (int turn = 0; turn < turnsEach; ++turn)
        for (std::size_t i = 0; i < contenders.size(); ++i)
            takeTurn(contenders[(turn + i) % contenders.size()], secondsEach / turnsEach);
    for (IdleContender& contender : contenders)
        if (contender.counted <= 0)
            throw std::runtime_error("an idle hook never ran");
    return {contenders[0].rate(), contenders[1].rate(), contenders[2].rate(),
            static_cast<double>(countingCell.paints) / contenders[2].seconds};
}

StepCost stepCost(long calls)
{
    BenchRig rig;
    TForm1& form = *rig.form;
    form.IdleHook->stop();
    const std::uint8_t shown = form.DataValue;
    volatile std::uint32_t sink = 0;
    const auto step = [&form] { form.SampleRegisters(); };
    const auto read = [&rig, &sink] { sink = rig.channel.ReadPortDword(BenchRig::Base); };
    nanosecondsPerCall(calls / 10, step); // warm-up
    const StepCounter counter(rig.platform);
    StepCost cost;
    cost.stepNs = nanosecondsPerCall(calls, step);
    if (counter.steps() != calls || form.DataValue != shown)
        throw std::runtime_error("the direct steps did not each make one read and find nothing changed");
    cost.readNs = nanosecondsPerCall(calls, read);
    return cost;
}

double cpuShare(int item, double seconds)
{
    const auto rig = makeRig(Registers::Counting);
    rig->form->SampleRate->setCurrentIndex(item);
    if (rig->form->IdleHook->isActive() || !rig->form->Timer1->isActive())
        throw std::runtime_error("sample-rate item " + std::to_string(item) + " did not switch to timer sampling");
    rig->settle();
    const double cpuBefore = processCpuSeconds();
    const double elapsed = runEventLoop(seconds);
    return (processCpuSeconds() - cpuBefore) / elapsed * 100.0;
}

ClickDelays clickDelays(int clicks, const std::function<void(BenchRig&)>& alongside)
{
    const auto rig = makeRig(Registers::Counting);
    if (alongside)
        alongside(*rig);
    TForm1& form = *rig->form;
    CellPanel* cell = form.PortDec[0];
    std::vector<double> delaysMs;
    int editorsOpened = 0;
    Clock::time_point posted;
    QEventLoop loop;
    std::function<void()> clickSoon = [&] {
        const int pauseMs = QRandomGenerator::global()->bounded(5, 15);
        QTimer::singleShot(pauseMs, &loop, [&] {
            posted = Clock::now();
            postClick(cell);
        });
    };
    // Connected after the window's own handler, so it runs once Port1DecClick has.
    QObject::connect(cell, &CellPanel::clicked, &loop, [&] {
        delaysMs.push_back(secondsSince(posted) * 1000.0);
        editorsOpened += form.Edit1->isVisible() && form.Edit1->parentWidget() == cell;
        form.Edit1KeyPress(27); // Escape closes the editor the click opened
        if (static_cast<int>(delaysMs.size()) < clicks)
            clickSoon();
        else
            loop.quit();
    });
    QTimer::singleShot(std::chrono::seconds(10 + clicks / 10), &loop, &QEventLoop::quit);
    const StepCounter counter(rig->platform);
    clickSoon();
    loop.exec();
    counter.someSteps();
    if (static_cast<int>(delaysMs.size()) != clicks || editorsOpened != clicks)
        throw std::runtime_error(std::to_string(clicks) + " clicks posted, " + std::to_string(delaysMs.size()) +
                                 " reached the cell, " + std::to_string(editorsOpened) + " opened its editor");
    return {percentile(delaysMs, 0.5), percentile(delaysMs, 0.99)};
}

MemoryUse memoryUse(double seconds)
{
    const auto rig = makeRig(Registers::Counting);
    MemoryUse use;
    use.beforeMiB = residentMiB();
    const StepCounter counter(rig->platform);
    runEventLoop(seconds);
    counter.someSteps();
    use.afterMiB = residentMiB();
    return use;
}
