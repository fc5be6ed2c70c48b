// /metrics over HTTP for Prometheus, served by Qt's HTTP server on the main
// thread: the exposition is made from what the recorder holds in memory, so
// a scrape never waits on a router or on the disk.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QHttpServer;

struct TListenAddress {
    QHostAddress Address = QHostAddress(QHostAddress::LocalHost);
    quint16 Port = 0;
};

// "PORT" (on 127.0.0.1), "ADDRESS:PORT" or "[IPv6]:PORT"; none when it is
// neither. Port 0 asks the system for a free one.
std::optional<TListenAddress> ParseListenAddress(const QString& text);

class TMetricsServer {
public:
    explicit TMetricsServer(std::function<QByteArray()> metrics);
    ~TMetricsServer();

    // The port it listens on, or 0 (error says why).
    quint16 Listen(const TListenAddress& address, QString* error);

private:
    std::unique_ptr<QHttpServer> FServer;
};
