// The recorder's /metrics over real loopback connections: what a broken or
// hostile client sends is answered or dropped without holding anyone else,
// a client that never reads holds only itself, and a hundred at once each
// get the whole text.
#include "recorder/recorder_process.h"
#include "support/router_sim_process.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

namespace {

const std::string Get = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

class MetricsHttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSim = std::make_unique<RouterSimProcess>(RouterSimProcess::Family("broadcom", "17a"));
        WriteFile(FDir, QStringLiteral("pw"), "1234\n");
        const QString config = WriteFile(FDir, QStringLiteral("r.conf"),
            QStringLiteral("[vdsl]\nhost = %1\nrouter = broadcom\npassword_file = pw\n").arg(QString::fromStdString(FSim->Address())).toUtf8());
        FRecorder.Start(QStringLiteral(TIRVANE_RECORDER),
            {"--config", config, "--history", FDir.filePath(QStringLiteral("h.sqlite")), "--listen", "127.0.0.1:0"});
        ASSERT_TRUE(FRecorder.WaitFor("/metrics\n")) << FRecorder.Err.toStdString();
        FPort = QRegularExpression(QStringLiteral(":(\\d+)/metrics")).match(QString::fromUtf8(FRecorder.Err)).captured(1).toInt();
        // The first reading in, so the text is as long as it gets.
        for (int i = 0; i < 200 && Metrics().find("tirvane_reading_completed{") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string Metrics()
    {
        LoopbackClient client;
        if (!client.Connect("127.0.0.1", FPort))
            return {};
        client.SendRaw(Get);
        const auto [status, body] = HttpAnswer(client);
        return status == 200 ? body : std::string();
    }
    QTemporaryDir FDir;
    std::unique_ptr<RouterSimProcess> FSim;
    TRecorderProcess FRecorder;
    int FPort = 0;
};

TEST_F(MetricsHttpTest, MalformedRequestsAreRefusedAndOthersStillServed)
{
    struct TCase {
        const char* Name;
        std::string Request;
        int Status; // 0: the connection is closed without an answer
    };
    const TCase cases[] = {
        {"not HTTP", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + "\r\n\r\n", 0},
        {"request line without a version", "GET /metrics\r\n\r\n", 0},
        {"unknown path", "GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"another method", "DELETE /metrics HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"a body longer than said", "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nabcdef", 404},
        {"a header that never ends", "GET /metrics HTTP/1.1\r\nX: " + std::string(200000, 'a'), 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        LoopbackClient client;
        ASSERT_TRUE(client.Connect("127.0.0.1", FPort));
        client.SendRaw(c.Request);
        if (c.Status != 0)
            EXPECT_EQ(HttpAnswer(client).first, c.Status);
        else
            EXPECT_NE(HttpAnswer(client, 2000).first, 200);
        EXPECT_NE(Metrics().find("tirvane_recorder_readings_total{line=\"vdsl\""), std::string::npos);
    }
}

// Requests pipelined by a client that never reads fill its own socket; the
// next client is answered meanwhile.
TEST_F(MetricsHttpTest, ClientThatNeverReadsHoldsNoOneElse)
{
    LoopbackClient stuck;
    ASSERT_TRUE(stuck.Connect("127.0.0.1", FPort));
    const int small = 4096;
    ::setsockopt(stuck.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    std::string many;
    for (int i = 0; i < 50; ++i)
        many += Get;
    stuck.SendRaw(many);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i)
        EXPECT_NE(Metrics().find("tirvane_reading_completed{line=\"vdsl\""), std::string::npos);
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST_F(MetricsHttpTest, HundredRequestsAtOnceEachGetTheWholeText)
{
    const std::string whole = Metrics();
    ASSERT_NE(whole.find("tirvane_recorder_start_time_seconds"), std::string::npos);
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.push_back(std::make_unique<LoopbackClient>());
        ASSERT_TRUE(clients.back()->Connect("127.0.0.1", FPort)) << i;
    }
    for (auto& client : clients)
        client->SendRaw(Get);
    int whole_answers = 0;
    for (auto& client : clients) {
        const auto [status, body] = HttpAnswer(*client);
        // The reading may have moved on between two answers: compare the end.
        whole_answers += status == 200 && body.size() > whole.size() / 2
                && body.rfind("tirvane_recorder_start_time_seconds ") != std::string::npos
            ? 1 : 0;
    }
    EXPECT_EQ(whole_answers, 100);
}

} // namespace
