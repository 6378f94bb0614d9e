#include "bench_rig.h"
#include "simulated_devices.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <chrono>

double runEventLoop(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)), Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    const auto start = std::chrono::steady_clock::now();
    loop.exec();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

BenchRig::BenchRig()
{
    // A log of every transfer would grow without end while sampling.
    platform.setLogging(false);
    platform.addPort(Base);
    channel.OpenPortChannel();
    form = std::make_unique<TForm1>(channel, desktop, settings);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get()))
        throw std::runtime_error("the main window was not exposed");
    settle();
}

void BenchRig::attachCountingDevice()
{
    platform.port(Base)->attach(std::make_unique<CountingDevice>());
    form->ResetDisplay();
    settle();
}

void BenchRig::settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}
