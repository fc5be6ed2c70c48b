#include "recorder/metrics_server.h"

#include <QHttpServer>
#include <QHttpServerResponse>

std::optional<TListenAddress> ParseListenAddress(const QString& text)
{
    TListenAddress listen;
    QString port = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        QString host = text.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (!listen.Address.setAddress(host))
            return std::nullopt;
        port = text.mid(colon + 1);
    }
    bool ok = false;
    const int number = port.toInt(&ok);
    if (!ok || number < 0 || number > 65535)
        return std::nullopt;
    listen.Port = quint16(number);
    return listen;
}

TMetricsServer::TMetricsServer(std::function<QByteArray()> metrics)
    : FServer(std::make_unique<QHttpServer>())
{
    FServer->route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get,
        [metrics = std::move(metrics)](const QHttpServerRequest&) {
            return QHttpServerResponse("text/plain; version=0.0.4; charset=utf-8", metrics());
        });
}

TMetricsServer::~TMetricsServer() = default;

quint16 TMetricsServer::Listen(const TListenAddress& address, QString* error)
{
    const quint16 port = FServer->listen(address.Address, address.Port);
    if (port == 0 && error)
        *error = QStringLiteral("cannot listen on %1 port %2").arg(address.Address.toString()).arg(address.Port);
    return port;
}
