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

#include <functional>

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

const QString A = QStringLiteral("127.0.0.1");
const QString B = QStringLiteral("127.0.0.2");

// A reading of a host's line: downstream tones 32-131 at 10 bits, or tones
// 32-81 at `low` (a rate drop without a resync), or tones 40-55 at `low`.
TReading Line(const QString& host, int minute, TReadingOutcome outcome = TReadingOutcome::LineUp, int low = 0,
              int lowTo = 81)
{
    TReading reading = ZyxelReading(1'796'601'600'000 + minute * 60'000LL, host, outcome == TReadingOutcome::LineUp);
    reading.Outcome = outcome;
    std::fill(reading.Bits.begin() + 32, reading.Bits.begin() + 132, std::uint8_t(10));
    if (low)
        std::fill(reading.Bits.begin() + (lowTo == 81 ? 32 : 40), reading.Bits.begin() + lowTo + 1, std::uint8_t(low));
    return reading;
}

// Minutes from-to (excluded) of a host, made by `make`.
void Minutes(std::vector<TReading>& readings, int from, int to, const std::function<TReading(int)>& make)
{
    for (int m = from; m < to; ++m)
        readings.push_back(make(m));
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

TEST(EventNotifier, NoticesOfLastingEventsPerHost)
{
    TPrivateBus bus;
    ASSERT_FALSE(bus.Address.isEmpty()) << "dbus-daemon did not start";
    using O = TReadingOutcome;
    const auto up = [](const QString& host) { return [host](int m) { return Line(host, m); }; };
    const auto down = [](const QString& host) { return [host](int m) { return Line(host, m, O::LineDown); }; };
    const auto outage = [&](std::vector<TReading>& r, const QString& host, int from, int to, int end) {
        Minutes(r, from, to, down(host));
        Minutes(r, to, end, up(host));
    };
    const struct {
        const char* name;
        std::function<void(std::vector<TReading>&)> build;
        bool enabled;
        QStringList summaries;
    } cases[] = {
        {"an outage of one cycle: none", [&](auto& r) { Minutes(r, 0, 5, up(A)); outage(r, A, 5, 6, 10); }, true, {}},
        {"an outage of five cycles: told once it held, and when the line is back",
         [&](auto& r) { Minutes(r, 0, 5, up(A)); outage(r, A, 5, 10, 12); }, true,
         {"Tirvane: Outage on 127.0.0.1", "Tirvane: Line back on 127.0.0.1"}},
        {"a second outage five minutes later: not told",
         [&](auto& r) { Minutes(r, 0, 5, up(A)); outage(r, A, 5, 10, 12); outage(r, A, 12, 17, 20); }, true,
         {"Tirvane: Outage on 127.0.0.1", "Tirvane: Line back on 127.0.0.1"}},
        {"outages of two hosts at once: each told",
         [&](auto& r) {
             for (int m = 0; m < 14; ++m)
                 for (const QString& host : {A, B})
                     r.push_back(m >= 5 && m < 10 ? Line(host, m, O::LineDown) : Line(host, m));
         },
         true,
         {"Tirvane: Outage on 127.0.0.1", "Tirvane: Outage on 127.0.0.2", "Tirvane: Line back on 127.0.0.1",
          "Tirvane: Line back on 127.0.0.2"}},
        {"refused logins, no answer and an empty Host: none",
         [&](auto& r) {
             Minutes(r, 0, 5, up(A));
             Minutes(r, 5, 10, [](int m) { return Line(A, m, O::LoginRefused); });
             Minutes(r, 10, 15, [](int m) { return Line(A, m, O::NoAnswer); });
             Minutes(r, 15, 20, [](int m) { return Line(QString(), m, O::LineDown); });
         },
         true, {}},
        {"a resync: at once", [&](auto& r) { Minutes(r, 0, 5, up(A)); r.push_back(Line(A, 5, O::LineUp, 12, 131)); },
         true, {"Tirvane: Resync on 127.0.0.1"}},
        {"a rate drop of five minutes: told, and its end",
         [&](auto& r) {
             Minutes(r, 0, 20, up(A));
             Minutes(r, 20, 25, [](int m) { return Line(A, m, O::LineUp, 5); });
             Minutes(r, 25, 27, up(A));
         },
         true, {"Tirvane: Rate drop on 127.0.0.1", "Tirvane: Rate drop over on 127.0.0.1"}},
        {"tones that lost bits for 20 minutes: told after 10, and their end",
         [&](auto& r) {
             Minutes(r, 0, 90, up(A));
             Minutes(r, 90, 110, [](int m) { return Line(A, m, O::LineUp, 5, 55); });
             Minutes(r, 110, 112, up(A));
         },
         true, {"Tirvane: Tones lost bits on 127.0.0.1", "Tirvane: Tones lost bits over on 127.0.0.1"}},
        {"turned off: none", [&](auto& r) { Minutes(r, 0, 5, up(A)); outage(r, A, 5, 10, 12); }, false, {}},
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
            std::vector<TReading> readings;
            c.build(readings);
            for (const TReading& reading : readings)
                notifier.Take(reading);
            Deliver(&listener, int(c.summaries.size()));
            QDBusConnection::disconnectFromBus(clientName);
        }
        EXPECT_EQ(listener.Summaries, c.summaries);
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
            notifier.Take(Line(A, minute, minute % 2 ? TReadingOutcome::LineDown : TReadingOutcome::LineUp));
        Deliver(nullptr, 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}

} // namespace

#include "event_notifier_test.moc"
