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

int TEventNotifier::Take(const TReading& reading)
{
    const TLineEventNews news = FDetectors[reading.Host].Add(reading);
    int sent = 0;
    for (const TLineEvent& event : news.Started) {
        if (!FEnabled)
            continue;
        const auto last = FLastNoticeMs.find(event.Kind);
        if (last != FLastNoticeMs.end() && reading.TimeMs - last->second < QuietMs)
            continue;
        FLastNoticeMs[event.Kind] = reading.TimeMs;
        sent += Notify(event) ? 1 : 0;
    }
    return sent;
}

QString TEventNotifier::Summary(const TLineEvent& event)
{
    QString kind = LineEventKindText(event.Kind);
    kind[0] = kind[0].toUpper();
    return QStringLiteral("Tirvane: %1 on %2").arg(kind, event.Host);
}

QString TEventNotifier::Body(const TLineEvent& event)
{
    const QString at = QDateTime::fromMSecsSinceEpoch(event.StartMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return QStringLiteral("Since %1: %2").arg(at, event.FiguresText());
}

bool TEventNotifier::Notify(const TLineEvent& event)
{
    if (!FBus || !FBus->isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    call << QStringLiteral("Tirvane") << uint(0) << QString() << Summary(event) << Body(event) << QStringList()
         << QVariantMap() << int(-1);
    // No reply is awaited: a missing service answers with an error that
    // nobody needs to see.
    call.setAutoStartService(false);
    return FBus->send(call);
}
