// The settings file at scale: a PorAddr.ini of 50 MB of blank lines (hand edits, a damaged copy),
// read as at start-up and written as at a close. bench/run.sh prints the figure.
//
//   settings_bench DIR REPEATS   best seconds of LoadSettings then SaveSettings on DIR/PorAddr.ini

#include "store/settings.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

struct Window : SettingsTarget {
    int top = 0, left = 0, width = 480, height = 258;
    int columns[3][7] = {{}, {50, 60, 60, 60, 50, 50, 50}, {60, 60, 60, 50, 50, 50}};
    std::optional<int> outerTop() const override { return top; }
    std::optional<int> outerLeft() const override { return left; }
    int outerWidth() const override { return width; }
    int outerHeight() const override { return height; }
    void setOuterTop(int v) override { top = v; }
    void setOuterLeft(int v) override { left = v; }
    void setOuterWidth(int v) override { width = v; }
    void setOuterHeight(int v) override { height = v; }
    int columnWidth(int list, int column) const override { return columns[list][column]; }
    void setColumnWidth(int list, int column, int w) override { columns[list][column] = w; }
};

bool writeBlankLines(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray chunk(1 << 20, '\n');
    for (qint64 done = 0; done < bytes; done += chunk.size()) {
        const qint64 n = qMin<qint64>(chunk.size(), bytes - done);
        if (file.write(chunk.constData(), n) != n)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: settings_bench DIR REPEATS\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int repeats = qMax(1, QByteArray(argv[2]).toInt());
    const QString path = dir + QStringLiteral("/PorAddr.ini");
    if (!QDir().mkpath(dir))
        return 1;
    double best = 1e300;
    for (int r = 0; r < repeats; ++r) {
        if (!writeBlankLines(path, 50 * 1000 * 1000))
            return 1;
        Window window;
        QElapsedTimer timer;
        timer.start();
        LoadSettings(path, window);
        SaveSettings(path, window);
        best = qMin(best, double(timer.nsecsElapsed()) / 1e9);
    }
    std::printf("%.6f\n", best);
    return 0;
}
