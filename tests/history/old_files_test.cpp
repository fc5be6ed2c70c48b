// History files written by the programs of formats 1 to 3 themselves (see
// data/README.md), read as they lie and converted by today's store. What
// they hold is written out here by hand, so a change to the way bits are
// packed or blocks are read, made to the writer and the reader together,
// still fails here instead of reading users' old files as damaged or wrong.
#include "history/store/block_summary.h"
#include "history/store/reading_store.h"
#include "support/raw_db.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <numeric>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr std::int64_t T0 = 1'700'000'000'000; // 2023-11-14 22:13:20 UTC

struct TKnownReading {
    std::int64_t TimeMs;
    const char* Host;
    bool Completed;
    bool Vdsl; // the Broadcom VDSL2 17a line of 4096 tones, else the ZyXEL's 513
    std::vector<std::pair<int, int>> ToneBits; // a few chosen tones
    int BitSum;
};

const TKnownReading R0 = {T0, "127.0.0.1", true, false, {{0, 0}, {5, 0}, {6, 10}, {7, 1}, {100, 12}, {300, 4}, {512, 0}}, 3799};
const TKnownReading R1 = {T0 + 60'000, "127.0.0.1", true, false, {{0, 0}, {5, 0}, {6, 13}, {7, 4}, {100, 15}, {300, 15}, {512, 3}}, 3808};
const TKnownReading Outage = {T0 + 120'000, "127.0.0.1", false, false, R1.ToneBits, 3808};
const TKnownReading Wide = {T0 + 180'000, "127.0.0.1", true, false, {{0, 0}, {5, 0}, {6, 15}, {7, 6}, {100, 20}, {300, 9}, {512, 5}}, 3825};
const TKnownReading Moved = {T0 + 240'000, "127.0.0.1", true, false, {{6, 15}, {7, 6}, {100, 3}, {300, 9}, {301, 9}, {302, 14}, {512, 5}}, 3824};
const TKnownReading NextHour = {T0 + 3'000'000, "127.0.0.1", true, false, {{0, 0}, {5, 0}, {6, 3}, {7, 10}, {100, 5}, {300, 13}, {512, 9}}, 3802};
const TKnownReading Other = {T0 + 90'000, "127.0.0.3", true, false, {{0, 0}, {5, 0}, {6, 12}, {7, 3}, {100, 14}, {300, 6}, {512, 2}}, 3805};
const TKnownReading V0 = {T0 + 10'000, "127.0.0.2", true, true, {{0, 0}, {5, 0}, {6, 14}, {7, 3}, {100, 4}, {300, 12}, {4095, 11}}, 30677};
const TKnownReading V1 = {T0 + 70'000, "127.0.0.2", true, true, {{0, 0}, {5, 0}, {6, 15}, {7, 4}, {100, 5}, {300, 13}, {4095, 12}}, 30687};

void ExpectReadings(const std::vector<TReading>& read, const std::vector<TKnownReading>& known)
{
    ASSERT_EQ(read.size(), known.size());
    const TBandPlan vdslBands = {{{6, 31}, {870, 1205}, {1972, 2782}}, {{33, 859}, {1216, 1961}, {2793, 4095}}};
    const TBandPlan zyxelBands = {{{0, 31}}, {{32, 512}}};
    for (std::size_t i = 0; i < known.size(); ++i) {
        const TReading& r = read[i];
        const TKnownReading& k = known[i];
        SCOPED_TRACE(k.TimeMs - T0);
        EXPECT_EQ(r.TimeMs, k.TimeMs);
        EXPECT_EQ(r.Host, k.Host);
        EXPECT_EQ(r.Completed, k.Completed);
        EXPECT_EQ(r.Bits.size(), k.Vdsl ? 4096u : 513u);
        for (const auto& [tone, bits] : k.ToneBits)
            EXPECT_EQ(ToneBitsAt(r, tone), bits) << "tone " << tone;
        EXPECT_EQ(std::accumulate(r.Bits.begin(), r.Bits.end(), 0), k.BitSum);
        EXPECT_EQ(r.Router, k.Vdsl ? "broadcom" : "zyxel");
        EXPECT_EQ(r.Mode, k.Vdsl ? "VDSL2 17a" : "");
        EXPECT_EQ(r.SpacingKHz, 4.3125);
        EXPECT_EQ(r.Bands, k.Vdsl ? vdslBands : zyxelBands);
        // No format before the fourth kept outcomes, figures or spectra.
        EXPECT_EQ(r.Outcome, TReadingOutcome::Unknown);
        EXPECT_TRUE(r.Figures.Empty() && r.Spectra.Empty());
    }
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(OldHistoryFiles, ReadAsTheyLieAndConvertedKeepEveryReading)
{
    const struct {
        const char* file;
        int version;
        std::vector<TKnownReading> readings; // oldest first
        TUnreadPeriod damaged;
        const char* mend; // a damage that stops the conversion, undone by hand
        // The summaries the old program kept, by hour then block: host, readings,
        // complete ones, tone 100's bits in the latest complete reading.
        std::vector<std::tuple<QString, int, int, int>> summaries;
    } cases[] = {
        {"history_v1.sqlite", 1, {R0, R1, Other, Outage, Wide, Moved, NextHour},
            {"127.0.0.3", T0 + 30'000, T0 + 30'000, "the reading is damaged"},
            "DELETE FROM readings WHERE length(bits) = 100", {}},
        {"history_v2.sqlite", 2, {R0, V0, R1, V1, Outage, Wide, Moved, NextHour},
            {"127.0.0.3", T0 + 30'000, T0 + 90'000, "the block is damaged"}, nullptr, {}},
        {"history_v3.sqlite", 3, {R0, V0, R1, V1, Outage, Wide, Moved, NextHour},
            {"127.0.0.3", T0 + 30'000, T0 + 90'000, "the block is damaged"}, nullptr,
            {{"127.0.0.1", 5, 4, 3}, {"127.0.0.3", 2, 2, 14}, {"127.0.0.2", 2, 2, 5}, {"127.0.0.1", 1, 1, 5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        ASSERT_TRUE(QFile::copy(QStringLiteral(TIRVANE_HISTORY_DATA "/") + c.file, path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

        TReadingStore store;
        TReadResult result;
        ASSERT_TRUE(store.OpenToRead(path)) << store.ErrorText().toStdString();
        EXPECT_EQ(store.Version(), c.version);
        ExpectReadings(store.Readings(INT64_MIN, INT64_MAX, {}, &result), c.readings);
        EXPECT_EQ(result.Unread.size(), 1u);
        if (result.Unread.size() != 1u)
            continue;
        EXPECT_EQ(result.Unread[0].Host, c.damaged.Host);
        EXPECT_EQ(result.Unread[0].FromMs, c.damaged.FromMs);
        EXPECT_EQ(result.Unread[0].ToMs, c.damaged.ToMs);
        EXPECT_EQ(result.Unread[0].Reason, c.damaged.Reason);
        std::vector<std::tuple<QString, int, int, int>> summaries;
        if (!c.summaries.empty())
            store.ReadSummaries(INT64_MIN, INT64_MAX, {}, [&](const QString& host, const TBlockSummary& s) {
                summaries.emplace_back(host, s.Count, s.CompleteCount, ToneBitsAt(s.LatestComplete, 100));
                return true;
            });
        EXPECT_EQ(summaries, c.summaries);
        store.Close();

        if (c.mend) {
            const QByteArray before = FileBytes(path);
            EXPECT_FALSE(store.Open(path));
            EXPECT_TRUE(store.ErrorText().contains("the reading of 127.0.0.3 at") && store.ErrorText().endsWith("is damaged"))
                << store.ErrorText().toStdString();
            EXPECT_EQ(FileBytes(path), before);
            ASSERT_TRUE(RawDb(path).Exec(c.mend));
        }
        ASSERT_TRUE(store.Open(path)) << store.ErrorText().toStdString();
        EXPECT_EQ(RawDb(path).Text("PRAGMA user_version"), QString::number(TReadingStore::SchemaVersion));
        ExpectReadings(store.Readings(INT64_MIN, INT64_MAX, {}, &result), c.readings);
        ASSERT_EQ(result.Unread.size(), c.mend ? 0u : 1u);
        if (!c.mend) {
            EXPECT_EQ(result.Unread[0].FromMs, c.damaged.FromMs);
            EXPECT_EQ(result.Unread[0].ToMs, c.damaged.ToMs);
        }
    }
}

} // namespace
