// A stand-in polkit authority for a private system bus: says yes to every
// CheckAuthorization, as polkit does for a local desktop session's user, and
// logs each action asked on stdout. Prints "ready" once it owns the name.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {
class Authority : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("CheckAuthorization"))
            return false;
        std::printf("CheckAuthorization %s\n", qPrintable(message.arguments().value(1).toString()));
        std::fflush(stdout);
        QDBusArgument result; // (bba{ss}): authorized, not a challenge, no details
        result.beginStructure();
        result << true << false;
        result.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QString>());
        result.endMap();
        result.endStructure();
        connection.send(message.createReply(QVariant::fromValue(result)));
        return true;
    }
};
}

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    Authority authority;
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/PolicyKit1/Authority"), &authority) ||
        !bus.registerService(QStringLiteral("org.freedesktop.PolicyKit1"))) {
        std::fprintf(stderr, "stand_in_polkit: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}
