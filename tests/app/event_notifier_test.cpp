// Notices of line events as the desktop receives them: a listener on a bus
// of its own (a private dbus-daemon) stands in for the notification service.
#include "app/event_notifier.h"
#include "support/test_main.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QVariantMap>

#include <gtest/gtest.h>

TTestMain TestMainSetUp()
{
    return {};
}

// The service's side of Notify: keeps what it was told.
class TNoticeListener : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList Summaries;
    QStringList Bodies;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        Summaries << summary;
        Bodies << body;
        return uint(Summaries.size());
    }
};

namespace {

// A session bus of the test's own, gone with the object.
class TPrivateBus {
public:
    TPrivateBus()
    {
        FDaemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        if (FDaemon.waitForStarted(5000) && FDaemon.waitForReadyRead(5000))
            Address = QString::fromUtf8(FDaemon.readLine()).trimmed();
    }
    ~TPrivateBus() { FDaemon.kill(), FDaemon.waitForFinished(5000); }
    QString Address;

private:
    QProcess FDaemon;
};

TReading Line(int minute, bool completed, int bits = 10)
{
    TReading reading = ZyxelReading(1'796'601'600'000 + minute * 60'000LL, QStringLiteral("127.0.0.1"), completed);
    std::fill(reading.Bits.begin() + 32, reading.Bits.begin() + 132, std::uint8_t(bits));
    return reading;
}

// Lets the bus deliver what was sent (up to `expected` notices), then a
// little longer so that a notice too many would arrive too.
void Deliver(const TNoticeListener* listener, int expected)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000 && listener && listener->Summaries.size() < expected)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    for (const qint64 until = timer.elapsed() + 300; timer.elapsed() < until;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST(EventNotifier, NoticesReachTheServiceAtMostOncePerKindInTenMinutes)
{
    TPrivateBus bus;
    ASSERT_FALSE(bus.Address.isEmpty()) << "dbus-daemon did not start";
    const struct {
        const char* name;
        std::vector<TReading> readings;
        bool enabled;
        QStringList summaries;
    } cases[] = {
        {"an outage", {Line(0, true), Line(1, false), Line(2, true)}, true, {"Tirvane: Outage on 127.0.0.1"}},
        {"two outages five minutes apart: one notice",
         {Line(0, true), Line(1, false), Line(2, true), Line(6, false), Line(7, true)}, true,
         {"Tirvane: Outage on 127.0.0.1"}},
        {"a third ten minutes after the first: a second notice",
         {Line(0, true), Line(1, false), Line(2, true), Line(6, false), Line(7, true), Line(11, false)}, true,
         {"Tirvane: Outage on 127.0.0.1", "Tirvane: Outage on 127.0.0.1"}},
        {"another kind within the ten minutes has its own notice",
         {Line(0, true), Line(1, false), Line(2, true, 12)}, true,
         {"Tirvane: Outage on 127.0.0.1", "Tirvane: Resync on 127.0.0.1"}},
        {"turned off: none", {Line(0, true), Line(1, false), Line(2, true, 12)}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString serviceName = QStringLiteral("service-%1").arg(quintptr(&c));
        QDBusConnection service = QDBusConnection::connectToBus(bus.Address, serviceName);
        TNoticeListener listener;
        ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &listener,
            QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
        {
            const QString clientName = serviceName + QStringLiteral("-client");
            TEventNotifier notifier(QDBusConnection::connectToBus(bus.Address, clientName));
            notifier.SetEnabled(c.enabled);
            for (const TReading& reading : c.readings)
                notifier.Take(reading);
            Deliver(&listener, int(c.summaries.size()));
            QDBusConnection::disconnectFromBus(clientName);
        }
        EXPECT_EQ(listener.Summaries, c.summaries);
        EXPECT_TRUE(listener.Bodies.isEmpty() || listener.Bodies[0].endsWith(QStringLiteral(": 1 incomplete cycle")));
        service.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(serviceName);
    }
}

// Without a service, or without a bus at all, readings go on being taken and
// nothing is printed.
TEST(EventNotifier, NoServiceNoBusNoHarm)
{
    TPrivateBus bus;
    ASSERT_FALSE(bus.Address.isEmpty());
    const struct {
        const char* name;
        std::optional<QDBusConnection> connection;
    } cases[] = {
        {"a bus without the service", QDBusConnection::connectToBus(bus.Address, QStringLiteral("lonely"))},
        {"no bus", QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"))},
        {"no session bus to ask", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        TEventNotifier notifier(c.connection);
        for (int minute = 0; minute < 60; ++minute)
            notifier.Take(Line(minute, minute % 2 == 0));
        Deliver(nullptr, 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

} // namespace

#include "event_notifier_test.moc"
