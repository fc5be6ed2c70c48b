#include "app/event_notifier.h"

#include <QDBusMessage>
#include <QDateTime>
#include <QFileInfo>
#include <QVariantMap>

#include <unistd.h>

TEventNotifier::TEventNotifier(std::optional<QDBusConnection> bus, QObject* parent)
    : QObject(parent)
    , FBus(std::move(bus))
{
}

std::optional<QDBusConnection> TEventNotifier::SessionBusIfAny()
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        && !QFileInfo::exists(QStringLiteral("/run/user/%1/bus").arg(::getuid())))
        return std::nullopt;
    return QDBusConnection::sessionBus();
}

namespace {

QString ClockText(std::int64_t ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString KindTitle(TLineEventKind kind)
{
    QString text = LineEventKindText(kind);
    text[0] = text[0].toUpper();
    return text;
}

} // namespace

bool TEventNotifier::Quiet(THost& host, TLineEventKind kind, std::int64_t nowMs)
{
    const auto last = host.LastNoticeMs.find(kind);
    if (last != host.LastNoticeMs.end() && nowMs - last->second < QuietMs)
        return true;
    host.LastNoticeMs[kind] = nowMs;
    return false;
}

int TEventNotifier::Take(const TReading& reading)
{
    if (reading.Host.isEmpty())
        return 0;
    THost& host = FHosts[reading.Host];
    const TLineEventNews news = host.Detector.Add(reading);
    int sent = 0;
    const auto tell = [&](const QString& summary, const QString& body) {
        if (FEnabled)
            sent += Notify(summary, body) ? 1 : 0;
    };
    for (const TLineEvent& event : news.Ended) {
        if (event.Kind == TLineEventKind::NoReading)
            continue;
        if (event.Kind == TLineEventKind::Resync) {
            if (!Quiet(host, event.Kind, reading.TimeMs))
                tell(Summary(event), Body(event));
        } else if (host.Told.erase(event.Serial)) {
            tell(EndSummary(event), EndBody(event));
        } else if (event.DurationMs() >= LineEventRules::NoticeHoldMs && !Quiet(host, event.Kind, reading.TimeMs)) {
            // Over between two readings, but long: told once, whole.
            tell(Summary(event), QStringLiteral("%1 to %2: %3")
                                     .arg(ClockText(event.StartMs), ClockText(event.EndMs), event.FiguresText()));
        }
    }
    for (const TLineEvent& event : host.Detector.Ongoing()) {
        if (event.Kind == TLineEventKind::NoReading || host.Told.count(event.Serial)
            || reading.TimeMs - event.StartMs < LineEventRules::NoticeHoldMs || Quiet(host, event.Kind, reading.TimeMs))
            continue;
        host.Told.insert(event.Serial);
        tell(Summary(event), Body(event));
    }
    return sent;
}

QString TEventNotifier::Summary(const TLineEvent& event)
{
    return QStringLiteral("Tirvane: %1 on %2").arg(KindTitle(event.Kind), event.Host);
}

QString TEventNotifier::Body(const TLineEvent& event)
{
    if (event.Kind == TLineEventKind::Resync)
        return QStringLiteral("At %1: %2").arg(ClockText(event.EndMs), event.FiguresText());
    return QStringLiteral("Since %1: %2").arg(ClockText(event.StartMs), event.FiguresText());
}

QString TEventNotifier::EndSummary(const TLineEvent& event)
{
    if (event.Kind == TLineEventKind::Outage)
        return QStringLiteral("Tirvane: Line back on %1").arg(event.Host);
    return QStringLiteral("Tirvane: %1 over on %2").arg(KindTitle(event.Kind), event.Host);
}

QString TEventNotifier::EndBody(const TLineEvent& event)
{
    return QStringLiteral("At %1, after %2: %3")
        .arg(ClockText(event.EndMs), DurationText(event.DurationMs()), event.FiguresText());
}

bool TEventNotifier::Notify(const QString& summary, const QString& body)
{
    if (!FBus || !FBus->isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    call << QStringLiteral("Tirvane") << uint(0) << QString() << summary << body << QStringList()
         << QVariantMap() << int(-1);
    // No reply is awaited: a missing service answers with an error that
    // nobody needs to see.
    call.setAutoStartService(false);
    return FBus->send(call);
}
