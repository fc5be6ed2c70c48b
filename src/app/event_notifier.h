// Tells the desktop of new events of the line while the monitor runs, as
// freedesktop notifications over the session bus. Widget-free: the window
// feeds it each reading it takes.
//
// A desktop without a notification service (or without a session bus) loses
// nothing but the notices: the call goes out and its error reply is dropped,
// and nothing is printed, however many readings follow.
#pragma once

#include "events/line_events.h"

#include <QDBusConnection>
#include <QObject>

#include <map>
#include <optional>
#include <set>

class TEventNotifier : public QObject {
    Q_OBJECT
public:
    // At most one notice of each kind of event of a host in this time, so a
    // line that keeps dropping does not bury the desktop in them; another
    // host's line has notices of its own.
    static constexpr std::int64_t QuietMs = LineEventRules::NoticeQuietMs;

    // No bus: nothing is sent.
    explicit TEventNotifier(std::optional<QDBusConnection> bus, QObject* parent = nullptr);

    // The session bus where the desktop has one: its address in the
    // environment, or the user's bus socket. Otherwise none, and no
    // connection is even tried: asking Qt for it anyway would start its
    // bus thread and may launch a bus of its own for nobody to listen on.
    static std::optional<QDBusConnection> SessionBusIfAny();

    // Off: readings are still followed, so turning it on again tells only of
    // what begins from then on.
    void SetEnabled(bool enabled) { FEnabled = enabled; }
    bool Enabled() const { return FEnabled; }

    // Follows one reading of its host; returns how many notices it sent.
    // Only the line's own events are told, once they lasted NoticeHoldMs
    // (a resync at once), and again when they end: a cycle that read nothing
    // (a refused login, a router that did not answer, an empty Host) is the
    // window's to say, never the desktop's.
    int Take(const TReading& reading);

    // The notice's title and text of an event, as it begins and as it ends.
    static QString Summary(const TLineEvent& event);
    static QString Body(const TLineEvent& event);
    static QString EndSummary(const TLineEvent& event);
    static QString EndBody(const TLineEvent& event);

private:
    struct THost {
        TLineEventDetector Detector;
        std::set<std::uint32_t> Told; // serials of events told and not yet ended
        std::map<TLineEventKind, std::int64_t> LastNoticeMs; // by the reading's time
    };
    bool Quiet(THost& host, TLineEventKind kind, std::int64_t nowMs);
    bool Notify(const QString& summary, const QString& body);

    std::optional<QDBusConnection> FBus;
    bool FEnabled = true;
    std::map<QString, THost> FHosts;
};
