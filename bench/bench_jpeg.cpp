// JPEG encoding of the chart snapshot (696 x 237) with TJPEGImage, beside
// libjpeg-turbo's own cjpeg (-quality 90 -dct float -baseline) on the same
// pixels given as a PPM file, in one run; and the whole Save As without the
// dialog (snapshot, encode, file written and synced).
//
// cjpeg runs as a program, so its figure includes starting a process; the
// CjpegStartOnly row (a 1 x 1 picture) shows that share.
#include "chart/chart.h"
#include "output/chart_commands.h"
#include "output/jpeg.h"
#include "output/save_picture_dialog.h"
#include "output/chart_pictures.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

TChart* Chart = nullptr;
QString WorkDir;

void FillChart(TChart& chart)
{
    LoadChart21Settings(chart);
    chart.resize(696, 237);
    chart.BottomAxis().SetMaximum(512);
    for (int tone = 0; tone <= 512; ++tone)
        chart.Series().AppendBar((tone * 7) % 15, QString::number(tone), tone < 32 ? clGreen : clBlue);
}

QImage Snapshot()
{
    return CreateChartBitmap(*Chart, Chart->BackColor(), Chart->GetChartRectangle());
}

QString WritePpm(const QImage& image, const QString& name)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QFile file(WorkDir + '/' + name);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    file.write(QByteArray("P6\n") + QByteArray::number(rgb.width()) + ' ' + QByteArray::number(rgb.height()) +
               "\n255\n");
    for (int y = 0; y < rgb.height(); ++y)
        file.write(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
    return file.fileName();
}

bool RunCjpeg(const std::string& ppm)
{
    const char* argv[] = {"cjpeg", "-quality", "90", "-dct", "float", "-baseline",
                          "-outfile", "/dev/null", ppm.c_str(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "cjpeg", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return false;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class TFixedChooser : public TPictureFileChooser {
public:
    explicit TFixedChooser(QString fileName) : FFileName(std::move(fileName)) {}
    bool Execute() override { return true; }
    QString FileName() const override { return FFileName; }

private:
    QString FFileName;
};

void BM_TJPEGImageEncode(benchmark::State& state)
{
    const QImage snapshot = Snapshot();
    std::size_t bytes = 0;
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.Assign(snapshot);
        jpeg.Compress();
        bytes = std::size_t(jpeg.Data().size());
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["file_bytes"] = double(bytes);
}
BENCHMARK(BM_TJPEGImageEncode)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CjpegSamePixels(benchmark::State& state)
{
    const std::string ppm = WritePpm(Snapshot(), "snapshot.ppm").toStdString();
    for (auto _ : state)
        if (!RunCjpeg(ppm))
            state.SkipWithError("cjpeg failed");
}
BENCHMARK(BM_CjpegSamePixels)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CjpegStartOnly(benchmark::State& state)
{
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(Qt::white);
    const std::string ppm = WritePpm(one, "one.ppm").toStdString();
    for (auto _ : state)
        if (!RunCjpeg(ppm))
            state.SkipWithError("cjpeg failed");
}
BENCHMARK(BM_CjpegStartOnly)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_SaveAsWithoutDialog(benchmark::State& state)
{
    TFixedChooser chooser(WorkDir + "/chart.jpg");
    for (auto _ : state)
        SaveChartAsJpeg(*Chart, chooser);
}
BENCHMARK(BM_SaveAsWithoutDialog)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    RegisterJpegPictureFormat();
    QTemporaryDir dir;
    WorkDir = dir.path();
    TChart chart;
    FillChart(chart);
    Chart = &chart;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
