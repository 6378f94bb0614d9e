#include "rtkit_broker.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {
const QString Service = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString Path = QStringLiteral("/org/freedesktop/RealtimeKit1");

// Its own connection, so that no other user of the system bus in the process is disturbed.
QDBusConnection systemBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SystemBus, QStringLiteral("velkaro-rtkit"));
}

// The answer, or none with why.
std::optional<QDBusMessage> call(const QDBusMessage& message, std::string& why)
{
    QDBusConnection bus = systemBus();
    if (!bus.isConnected()) {
        why = "no system bus (" + bus.lastError().message().toStdString() + ")";
        return std::nullopt;
    }
    const QDBusMessage reply = bus.call(message, QDBus::Block, RtkitBroker::TimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply;
    why = reply.errorName().toStdString() + ": " + reply.errorMessage().toStdString();
    return std::nullopt;
}

std::optional<qlonglong> property(const char* name, std::string& why)
{
    QDBusMessage get = QDBusMessage::createMethodCall(Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << Service << QString::fromLatin1(name);
    const std::optional<QDBusMessage> reply = call(get, why);
    if (!reply)
        return std::nullopt;
    bool number = false;
    const qlonglong value = reply->arguments().value(0).value<QDBusVariant>().variant().toLongLong(&number);
    if (!number) {
        why = std::string("its ") + name + " is not a number";
        return std::nullopt;
    }
    return value;
}
}

std::optional<RealtimeBroker::Offer> RtkitBroker::offer(std::string& why)
{
    const std::optional<qlonglong> priority = property("MaxRealtimePriority", why);
    if (!priority)
        return std::nullopt;
    const std::optional<qlonglong> runTime = property("RTTimeUSecMax", why);
    if (!runTime)
        return std::nullopt;
    return Offer{static_cast<int>(*priority), *runTime};
}

bool RtkitBroker::makeThreadRealtime(pid_t process, pid_t thread, int priority, std::string& why)
{
    QDBusMessage make = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("MakeThreadRealtimeWithPID"));
    make << QVariant::fromValue(static_cast<qulonglong>(process)) << QVariant::fromValue(static_cast<qulonglong>(thread))
         << QVariant::fromValue(static_cast<uint>(priority));
    return call(make, why).has_value();
}
