// A real Prometheus server on loopback scrapes a recorder that polls two
// simulated lines; then every query of the Grafana dashboard and every
// alert's expression shipped in contrib/ runs through the server's HTTP API
// and must return data. Queries of series the simulator does not serve yet
// are listed and skipped by name, never passed over in silence.
#include "recorder/recorder_process.h"
#include "support/child_process.h"
#include "support/loopback_peer.h"
#include "support/router_sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QUrl>

#include <gtest/gtest.h>

#include <sstream>

#include <netinet/in.h>
#include <sys/socket.h>

#include <set>

namespace {

// A port free on 127.0.0.1 now.
int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// The body of GET path from the Prometheus server, over HTTP/1.0 so it
// closes when done.
std::string HttpGet(int port, const std::string& path)
{
    LoopbackClient client;
    if (!client.Connect("127.0.0.1", port))
        return {};
    client.SendRaw("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    client.WaitForClose(20000);
    const std::string& answer = client.Pending();
    const std::size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
}

// The instant query's result vector.
QJsonArray Query(int port, const QString& promql)
{
    const std::string body = HttpGet(port, "/api/v1/query?query=" + QUrl::toPercentEncoding(promql).toStdString());
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object()[QStringLiteral("data")].toObject()[QStringLiteral("result")].toArray();
}

// An alert's condition as a value for every series it looks at: each
// comparison outside label matchers gains `bool`, so a healthy line still
// returns its 0.
QString EverySeries(QString expression)
{
    return expression.replace(QRegularExpression(QStringLiteral("(==|!=|>=|<=|>|<)(?![^{]*\\})")), QStringLiteral("\\1 bool"));
}

TEST(PrometheusTest, EveryDashboardQueryAndAlertReturnsData)
{
    const std::string prometheus = support::FindOnPath("prometheus");
    if (prometheus.empty())
        GTEST_SKIP() << "prometheus is not installed (scripts/install_deps.sh installs it)";
    QTemporaryDir dir;
    RouterSimProcess zyxel(RouterSimProcess::Family("zyxel", "adsl2+"));
    RouterSimProcess broadcom(RouterSimProcess::Family("broadcom", "17a"));
    WriteFile(dir, QStringLiteral("pw"), "1234\n");
    const QString config = WriteFile(dir, QStringLiteral("r.conf"),
        QStringLiteral("[home]\nhost = %1\ninterval = 1\nfigures = true\npassword_file = pw\n"
                       "[office]\nhost = %2\nrouter = broadcom\ninterval = 1\nfigures = true\npassword_file = pw\n")
            .arg(QString::fromStdString(zyxel.Address()), QString::fromStdString(broadcom.Address()))
            .toUtf8());
    TRecorderProcess recorder;
    recorder.Start(QStringLiteral(TIRVANE_RECORDER),
        {"--config", config, "--history", dir.filePath(QStringLiteral("h.sqlite")), "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(recorder.WaitFor("/metrics\n")) << recorder.Err.toStdString();
    const int recorderPort = QRegularExpression(QStringLiteral(":(\\d+)/metrics")).match(QString::fromUtf8(recorder.Err)).captured(1).toInt();

    const QString contrib = QStringLiteral(TIRVANE_CONTRIB);
    const QString rules = contrib + QStringLiteral("/prometheus/tirvane-alerts.yml");
    const QString serverConfig = WriteFile(dir, QStringLiteral("prometheus.yml"),
        QStringLiteral("global: {scrape_interval: 1s, evaluation_interval: 1s}\nrule_files: [\"%1\"]\n"
                       "scrape_configs:\n  - job_name: tirvane\n    static_configs: [{targets: [\"127.0.0.1:%2\"]}]\n")
            .arg(rules).arg(recorderPort).toUtf8());
    const int port = FreePort();
    support::ChildProcess server;
    ASSERT_TRUE(server.Start({prometheus, "--config.file=" + serverConfig.toStdString(),
                                 "--storage.tsdb.path=" + dir.filePath(QStringLiteral("tsdb")).toStdString(),
                                 "--web.listen-address=127.0.0.1:" + std::to_string(port)},
        {}, true)) << server.error;
    // Both lines read and scraped for long enough to give every rate two samples.
    QElapsedTimer clock;
    clock.start();
    while (Query(port, QStringLiteral("count_over_time(tirvane_reading_completed[1m]) >= 8")).size() < 2 && clock.elapsed() < 120000)
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(Query(port, QStringLiteral("count_over_time(tirvane_reading_completed[1m]) >= 8")).size(), 2) << server.Output();

    // The queries: the dashboard's, with its variables filled in, and the alerts'.
    QFile dashboardFile(contrib + QStringLiteral("/grafana/tirvane-lines.json"));
    ASSERT_TRUE(dashboardFile.open(QIODevice::ReadOnly));
    const QJsonObject dashboard = QJsonDocument::fromJson(dashboardFile.readAll()).object();
    QStringList queries = {QStringLiteral("group by (line) (tirvane_reading_completed)")}; // the line variable
    for (const QJsonValue panel : dashboard[QStringLiteral("panels")].toArray())
        for (const QJsonValue target : panel[QStringLiteral("targets")].toArray())
            for (const QString& line : {QStringLiteral("home"), QStringLiteral("office")})
                queries << target[QStringLiteral("expr")].toString().replace(QStringLiteral("$line"), line).replace(
                    QStringLiteral("$__rate_interval"), QStringLiteral("30s"));
    QFile rulesFile(rules);
    ASSERT_TRUE(rulesFile.open(QIODevice::ReadOnly));
    int alerts = 0;
    for (const QByteArray& row : rulesFile.readAll().split('\n'))
        if (const QByteArray text = row.trimmed(); text.startsWith("expr:")) {
            queries << EverySeries(QString::fromUtf8(text.mid(5).trimmed()));
            ++alerts;
        }
    EXPECT_EQ(alerts, 5);
    ASSERT_GT(queries.size(), 20);

    // Series the simulator does not serve yet are skipped by name; anything
    // else without data fails.
    LoopbackClient scrape;
    ASSERT_TRUE(scrape.Connect("127.0.0.1", recorderPort));
    scrape.SendRaw("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::string metrics = HttpAnswer(scrape).second;
    QStringList skipped;
    for (const QString& query : queries) {
        if (!Query(port, query).isEmpty())
            continue;
        // A series this line's router does not print (the ZyXEL has no
        // attainable rate) is skipped as one not served at all.
        const QRegularExpressionMatch name = QRegularExpression(QStringLiteral("tirvane_line_[a-z_]+")).match(query);
        const QRegularExpressionMatch line = QRegularExpression(QStringLiteral("line=\"[^\"]*\"")).match(query);
        const auto served = [&] {
            std::istringstream lines(metrics);
            for (std::string text; std::getline(lines, text);)
                if (text.rfind(name.captured().toStdString() + '{', 0) == 0
                    && (!line.hasMatch() || text.find(line.captured().toStdString()) != std::string::npos))
                    return true;
            return false;
        };
        if (name.hasMatch() && !served()) {
            skipped << query;
            continue;
        }
        ADD_FAILURE() << "no data: " << query.toStdString();
    }
    for (const QString& query : skipped)
        std::printf("SKIPPED (series not served by the recorder yet): %s\n", qUtf8Printable(query));
    // The line variable, bits per band, the readings panel and three alerts.
    EXPECT_GE(queries.size() - skipped.size(), 12);
}

} // namespace
