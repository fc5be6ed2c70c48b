// The JPEG file of Save As, read back with libjpeg: size, markers, tables,
// colours; the encoder running out of memory part-way; cancel and overwrite;
// and the preview decoder on good and broken files.
#include "support/jpeg_probe.h"
#include "support/qt_print.h"
#include "support/real_test_chart.h"
#include "support/test_chart.h"

#include "chart/chart.h"
#include "output/chart_commands.h"
#include "output/jpeg.h"
#include "output/picture_formats.h"
#include "output/save_picture_dialog.h"
#include "output/chart_pictures.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <jerror.h>

namespace {

// Answers the save dialog without showing one.
class TScriptedChooser : public TPictureFileChooser {
public:
    explicit TScriptedChooser(QString fileName, bool confirm = true)
        : FFileName(std::move(fileName)), FConfirm(confirm) {}
    bool Execute() override
    {
        ++Runs;
        return FConfirm;
    }
    QString FileName() const override { return FFileName; }
    int Runs = 0;

private:
    QString FFileName;
    bool FConfirm;
};

// libjpeg's standard tables (ITU T.81 Annex K), natural order.
constexpr int LuminanceBase[64] = {
    16, 11, 10, 16, 24, 40, 51, 61,     12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56,     14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77,   24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr int ChrominanceBase[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Quality 90 scales the tables by 20 %, rounded, at least 1.
int Scaled90(int base)
{
    return std::clamp((base * 20 + 50) / 100, 1, 255);
}

QStringList FolderEntries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

QByteArray EncodeChart(TTestChart& chart)
{
    TJPEGImage jpeg;
    jpeg.Assign(CreateChartBitmap(chart, chart.BackColor(), chart.GetChartRectangle()));
    jpeg.Compress();
    return jpeg.Data();
}

} // namespace

// ----------------------------------------------------------------- sizes

struct SizeCase {
    const char* Name;
    int Width;
    int Height;
};

class JpegSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(JpegSizeTest, SavedFileHasTheChartsClientSize)
{
    QTemporaryDir dir;
    TTestChart chart(GetParam().Width, GetParam().Height);
    TScriptedChooser chooser(dir.filePath("chart.jpg"));
    SaveChartAsJpeg(chart, chooser);
    const auto probe = ProbeJpegFile(dir.filePath("chart.jpg"));
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->Width, GetParam().Width);
    EXPECT_EQ(probe->Height, GetParam().Height);
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegSizeTest,
                         ::testing::Values(SizeCase{"DesignSize", 696, 237},
                                           SizeCase{"Enlarged", 1013, 455},
                                           SizeCase{"OddSmall", 101, 33}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(JpegSave, EnlargingTheWidgetEnlargesTheFile)
{
    QTemporaryDir dir;
    TTestChart chart;
    TScriptedChooser chooser(dir.filePath("a.jpg"));
    SaveChartAsJpeg(chart, chooser);
    chart.resize(900, 400);
    SaveChartAsJpeg(chart, chooser);
    const auto probe = ProbeJpegFile(dir.filePath("a.jpg"));
    ASSERT_TRUE(probe);
    EXPECT_EQ(QSize(probe->Width, probe->Height), QSize(900, 400));
}

// ------------------------------------------------------------ the stream

TEST(JpegStream, IsOneBaselineJfif101StreamAtQuality90)
{
    TTestChart chart;
    const QByteArray data = EncodeChart(chart);
    ASSERT_GT(data.size(), 20);
    const auto* b = reinterpret_cast<const unsigned char*>(data.constData());
    // SOI, then APP0 "JFIF\0" version 1.01, density unit 0, density 1:1.
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[1], 0xD8);
    EXPECT_EQ(b[2], 0xFF);
    EXPECT_EQ(b[3], 0xE0);
    EXPECT_EQ(QByteArray(data.constData() + 6, 5), QByteArray("JFIF\0", 5));
    EXPECT_EQ(b[11], 1);
    EXPECT_EQ(b[12], 1);
    EXPECT_EQ(b[13], 0);
    EXPECT_EQ((b[14] << 8 | b[15]), 1);
    EXPECT_EQ((b[16] << 8 | b[17]), 1);
    // Nothing after the EOI marker.
    EXPECT_EQ(b[data.size() - 2], 0xFF);
    EXPECT_EQ(b[data.size() - 1], 0xD9);
    // Baseline SOF0; no progressive SOF2 and no extended SOF1.
    EXPECT_TRUE(data.contains(QByteArray("\xFF\xC0", 2)));
    EXPECT_FALSE(data.contains(QByteArray("\xFF\xC2", 2)));
    EXPECT_FALSE(data.contains(QByteArray("\xFF\xC1", 2)));

    const auto probe = ProbeJpeg(data);
    ASSERT_TRUE(probe);
    EXPECT_TRUE(probe->SawJFIF);
    EXPECT_FALSE(probe->Progressive);
    EXPECT_EQ(probe->Components, 3);
    EXPECT_EQ(probe->DensityUnit, 0);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(probe->QuantTables[0][i], Scaled90(LuminanceBase[i])) << "luminance " << i;
        EXPECT_EQ(probe->QuantTables[1][i], Scaled90(ChrominanceBase[i])) << "chrominance " << i;
    }
}

// --------------------------------------------------------------- colours

struct ColourCase {
    const char* Name;
    QRect (*Where)(const QRect&);
    QRgb Expected;
};

class JpegColourTest : public ::testing::TestWithParam<ColourCase> {};

TEST_P(JpegColourTest, KeepsItsHueInTheFile)
{
    TTestChart chart;
    const auto probe = ProbeJpeg(EncodeChart(chart));
    ASSERT_TRUE(probe);
    const QRect area = GetParam().Where(chart.GetChartRectangle());
    // Well inside the area, away from the blocks that straddle its edges.
    const QPoint centre = area.center();
    EXPECT_TRUE(Near(probe->Pixels.pixel(centre), GetParam().Expected, 12))
        << std::hex << probe->Pixels.pixel(centre) << " expected " << GetParam().Expected;
}

INSTANTIATE_TEST_SUITE_P(
    Colours, JpegColourTest,
    ::testing::Values(
        ColourCase{"UpstreamGreen", TTestChart::UpstreamBar, TTestChart::Upstream},
        ColourCase{"DownstreamBlue", TTestChart::DownstreamBar, TTestChart::Downstream},
        ColourCase{"Panel", [](const QRect& r) { return QRect(r.right() - 60, r.top() + 30, 20, 20); },
                   TTestChart::Panel},
        ColourCase{"WhiteMargin", [](const QRect& r) { return QRect(r.left() + 4, r.top() + 4, 10, 10); },
                   0xFFFFFFFF}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(JpegSave, RealChartKeepsGreenUpstreamAndBlueDownstreamBars)
{
    QTemporaryDir dir;
    TChart chart;
    LoadRealTestChart(chart);
    TScriptedChooser chooser(dir.filePath("real.jpg"));
    SaveChartAsJpeg(chart, chooser);
    const auto probe = ProbeJpegFile(dir.filePath("real.jpg"));
    if (qEnvironmentVariableIsSet("TIRVANE_KEEP_PICTURES"))
        QFile::copy(dir.filePath("real.jpg"), qEnvironmentVariable("TIRVANE_KEEP_PICTURES") + "/real_chart.jpg");
    ASSERT_TRUE(probe);
    ASSERT_EQ(QSize(probe->Width, probe->Height), QSize(696, 237));
    // The green bars sit left of the blue ones, and neither came out with
    // red and blue exchanged. Thin outlined bars blend in the file, so
    // pixels are sorted by their dominant channel.
    auto dominant = [](QRgb p, int (*channel)(QRgb), int (*a)(QRgb), int (*b)(QRgb)) {
        return channel(p) > a(p) + 50 && channel(p) > b(p) + 50;
    };
    int greenX = -1;
    int blueX = -1;
    int swapped = 0;
    for (int y = 0; y < probe->Height; ++y)
        for (int x = 0; x < probe->Width; ++x) {
            const QRgb p = probe->Pixels.pixel(x, y);
            if (dominant(p, qGreen, qRed, qBlue) && greenX < 0)
                greenX = x;
            if (dominant(p, qBlue, qRed, qGreen))
                blueX = std::max(blueX, x);
            if (dominant(p, qRed, qGreen, qBlue))
                ++swapped;
        }
    EXPECT_GE(greenX, 0);
    EXPECT_GT(blueX, greenX);
    EXPECT_EQ(swapped, 0);
}

// ------------------------------------------------------ file handling

TEST(JpegSave, CancelLeavesTheFolderUntouchedAndStillTakesTheSnapshotFirst)
{
    QTemporaryDir dir;
    QFile existing(dir.filePath("old.jpg"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("previous contents");
    existing.close();
    TTestChart chart;
    TScriptedChooser chooser(dir.filePath("old.jpg"), false);
    SaveChartAsJpeg(chart, chooser);
    EXPECT_EQ(chooser.Runs, 1);
    EXPECT_EQ(chart.Draws, 1);
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{"old.jpg"});
    EXPECT_EQ(ReadFileBytes(dir.filePath("old.jpg")), QByteArray("previous contents"));
}

TEST(JpegSave, OverwritesAnExistingFileWithOneCompleteStream)
{
    QTemporaryDir dir;
    QFile existing(dir.filePath("chart.jpg"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write(QByteArray(500000, 'x')); // longer than the new picture
    existing.close();
    TTestChart chart;
    TScriptedChooser chooser(dir.filePath("chart.jpg"));
    SaveChartAsJpeg(chart, chooser);
    EXPECT_EQ(ReadFileBytes(dir.filePath("chart.jpg")), EncodeChart(chart));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{"chart.jpg"});
}

TEST(JpegSave, AnEncodingErrorIsReportedByNumberAndWritesNothing)
{
    QTemporaryDir dir;
    {
        QFile f(dir.filePath("wide.jpg"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old picture");
    }
    // Wider than a JPEG can be.
    QImage wide(70000, 1, QImage::Format_RGB32);
    wide.fill(Qt::white);
    TJPEGImage jpeg;
    jpeg.Assign(wide);
    try {
        jpeg.SaveToFile(dir.filePath("wide.jpg"));
        ADD_FAILURE() << "encoded an impossible picture";
    } catch (const EJPEG& error) {
        EXPECT_EQ(error.MessageCode(), JERR_IMAGE_TOO_BIG);
        EXPECT_EQ(std::string(error.what()), "JPEG error #" + std::to_string(JERR_IMAGE_TOO_BIG));
    }
    EXPECT_EQ(ReadFileBytes(dir.filePath("wide.jpg")), QByteArray("old picture"));
    EXPECT_EQ(FolderEntries(dir.path()), QStringList{"wide.jpg"});
}

namespace {
// A realloc that refuses call number FailAt (1 the first block, 2 the first
// grow, ...), as memory running out part-way would.
int GrowCalls = 0;
int FailAt = 0;
void* FailingGrow(void* block, std::size_t bytes)
{
    return ++GrowCalls == FailAt ? nullptr : std::realloc(block, bytes);
}
} // namespace

// Under the sanitizers, a block freed twice or left behind stops the test.
TEST(JpegEncoder, RunningOutOfMemoryPartWayFreesTheOutputOnceAndKeepsTheOldFile)
{
    QImage noise(696, 237, QImage::Format_RGB32); // compresses badly: many grows
    QRandomGenerator random(77);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random.generate() | 0xFF000000U);
    const TJpegGrowFn original = SetJpegOutputGrowth(FailingGrow);
    for (const int failAt : {1, 2, 3, 4}) {
        QTemporaryDir dir;
        const QString path = dir.filePath("chart.jpg");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
        f.close();
        GrowCalls = 0;
        FailAt = failAt;
        TJPEGImage jpeg;
        jpeg.Assign(noise);
        try {
            jpeg.SaveToFile(path);
            ADD_FAILURE() << "saved although growing failed at call " << failAt;
        } catch (const EJPEG& error) {
            EXPECT_EQ(error.MessageCode(), JERR_OUT_OF_MEMORY) << failAt;
        }
        EXPECT_EQ(GrowCalls, failAt);
        EXPECT_TRUE(jpeg.Data().isEmpty());
        EXPECT_EQ(ReadFileBytes(path), QByteArray("old"));
        EXPECT_EQ(FolderEntries(dir.path()), QStringList{"chart.jpg"});
    }
    SetJpegOutputGrowth(original);
}

TEST(JpegImage, AnEmptyChartSavesAnEmptyFile)
{
    QTemporaryDir dir;
    TTestChart chart(0, 0);
    TScriptedChooser chooser(dir.filePath("empty.jpg"));
    SaveChartAsJpeg(chart, chooser);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("empty.jpg")));
    EXPECT_EQ(QFileInfo(dir.filePath("empty.jpg")).size(), 0);
}

TEST(JpegImage, RefusesToBeResized)
{
    TJPEGImage jpeg;
    for (auto resize : {&TJPEGImage::SetWidth, &TJPEGImage::SetHeight}) {
        try {
            (jpeg.*resize)(10);
            ADD_FAILURE() << "resized";
        } catch (const EInvalidGraphicOperation& error) {
            EXPECT_STREQ(error.what(), "Cannot change the size of a JPEG image");
        }
    }
}

TEST(JpegImage, AssigningAgainDropsTheOldStream)
{
    TTestChart small(100, 50);
    TTestChart large(300, 120);
    TJPEGImage jpeg;
    jpeg.Assign(CreateChartBitmap(small, clWhite, small.GetChartRectangle()));
    jpeg.Compress();
    jpeg.Assign(CreateChartBitmap(large, clWhite, large.GetChartRectangle()));
    QTemporaryDir dir;
    jpeg.SaveToFile(dir.filePath("x.jpg"));
    const auto probe = ProbeJpegFile(dir.filePath("x.jpg"));
    ASSERT_TRUE(probe);
    EXPECT_EQ(QSize(probe->Width, probe->Height), QSize(300, 120));
}

// ------------------------------------------------------------- preview

struct PreviewCase {
    const char* Name;
    QByteArray (*Bytes)();
    const char* Extension;
    bool Loads;
};

namespace {
QByteArray GoodJpeg()
{
    TTestChart chart(160, 90);
    return EncodeChart(chart);
}
} // namespace

class PreviewDecodeTest : public ::testing::TestWithParam<PreviewCase> {};

TEST_P(PreviewDecodeTest, DecodesGoodFilesAndRejectsBrokenOnes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QString("p.") + GetParam().Extension);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(GetParam().Bytes());
    f.close();
    const auto picture = LoadPictureFile(path);
    EXPECT_EQ(picture.has_value(), GetParam().Loads);
    if (picture && GetParam().Loads) {
        EXPECT_EQ(picture->size(), QSize(160, 90));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, PreviewDecodeTest,
    ::testing::Values(
        PreviewCase{"Good", GoodJpeg, "jpg", true},
        PreviewCase{"GoodUpperCaseJpeg", GoodJpeg, "JPEG", true},
        PreviewCase{"Truncated", [] { return GoodJpeg().left(GoodJpeg().size() / 2); }, "jpg", false},
        PreviewCase{"HeaderOnly", [] { return GoodJpeg().left(200); }, "jpg", false},
        PreviewCase{"Random",
                    [] {
                        QByteArray b(4096, 0);
                        QRandomGenerator gen(1234);
                        for (auto& c : b)
                            c = char(gen.bounded(256));
                        return b;
                    },
                    "jpg", false},
        PreviewCase{"Empty", [] { return QByteArray(); }, "jpg", false},
        PreviewCase{"UnregisteredExtension", GoodJpeg, "png", false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(JpegDecode, HeaderLoadReportsSizeAndFlags)
{
    TJPEGImage progressive;
    TTestChart chart(64, 48);
    progressive.Assign(CreateChartBitmap(chart, clWhite, chart.GetChartRectangle()));
    progressive.ProgressiveEncoding = true;
    progressive.Grayscale = true;
    progressive.Compress();
    TJPEGImage loaded;
    loaded.LoadFromBytes(progressive.Data());
    EXPECT_EQ(loaded.Width(), 64);
    EXPECT_EQ(loaded.Height(), 48);
    EXPECT_TRUE(loaded.IsGrayscaleData());
    EXPECT_TRUE(loaded.IsProgressiveData());
}

struct DecoderSettingsCase {
    const char* Name;
    TJPEGPixelFormat Format;
    TJPEGPerformance Performance;
    TJPEGScale Scale;
    bool ProgressiveDisplay;
    QImage::Format Expected;
    QSize Size;
};

class DecoderSettingsTest : public ::testing::TestWithParam<DecoderSettingsCase> {};

TEST_P(DecoderSettingsTest, DecodesWithTheGivenSettings)
{
    TTestChart chart(160, 96);
    TJPEGImage encoder;
    encoder.Assign(CreateChartBitmap(chart, clWhite, chart.GetChartRectangle()));
    encoder.ProgressiveEncoding = GetParam().ProgressiveDisplay;
    encoder.Compress();
    TJPEGImage jpeg;
    jpeg.PixelFormat = GetParam().Format;
    jpeg.Performance = GetParam().Performance;
    jpeg.Scale = GetParam().Scale;
    jpeg.ProgressiveDisplay = GetParam().ProgressiveDisplay;
    jpeg.LoadFromBytes(encoder.Data());
    const QImage picture = jpeg.Decode();
    EXPECT_EQ(picture.format(), GetParam().Expected);
    EXPECT_EQ(picture.size(), GetParam().Size);
    // The green bar is still green however it was decoded.
    const QPoint bar = TTestChart::UpstreamBar(QRect(0, 0, 160, 96)).center() *
                       (double(GetParam().Size.width()) / 160.0);
    EXPECT_TRUE(Near(picture.pixel(bar), TTestChart::Upstream, 40)) << std::hex << picture.pixel(bar);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, DecoderSettingsTest,
    ::testing::Values(
        DecoderSettingsCase{"Defaults", jf24Bit, jpBestQuality, jsFullSize, false, QImage::Format_RGB888, {160, 96}},
        DecoderSettingsCase{"EightBitScreen", jf8Bit, jpBestQuality, jsFullSize, false, QImage::Format_Indexed8, {160, 96}},
        DecoderSettingsCase{"FastEightBit", jf8Bit, jpBestSpeed, jsFullSize, false, QImage::Format_Indexed8, {160, 96}},
        DecoderSettingsCase{"Half", jf24Bit, jpBestQuality, jsHalf, false, QImage::Format_RGB888, {80, 48}},
        DecoderSettingsCase{"ProgressiveDisplay", jf24Bit, jpBestQuality, jsFullSize, true, QImage::Format_RGB888, {160, 96}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(JpegDefaults, EightBitDecoderOnlyOnScreensOfEightBitsOrFewer)
{
    const struct {
        int Bits;
        TJPEGPixelFormat Expected;
    } cases[] = {{1, jf8Bit}, {8, jf8Bit}, {15, jf24Bit}, {16, jf24Bit}, {24, jf24Bit}, {32, jf24Bit},
                 {-1, jf24Bit}}; // -1: the screen is asked; the offscreen one has 32 bits
    for (const auto& c : cases) {
        InitJPEGDefaults(c.Bits);
        EXPECT_EQ(TJPEGImage().PixelFormat, c.Expected) << c.Bits;
    }
    InitJPEGDefaults(32);
    const TJPEGImage jpeg;
    EXPECT_EQ(jpeg.CompressionQuality, 90);
    EXPECT_FALSE(jpeg.ProgressiveEncoding);
    EXPECT_TRUE(jpeg.Smoothing);
}
