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

// The window's values before reading, as at a first start.
WindowSettings layoutSettings()
{
    const int list1[list1ColumnCount] = {50, 60, 60, 60, 50, 50, 50};
    const int list2[list2ColumnCount] = {60, 60, 60, 50, 50, 50};
    WindowSettings settings;
    settings.top = 0, settings.left = 0, settings.width = 480, settings.height = 258;
    for (int column = 0; column < list1ColumnCount; ++column)
        settings.list1Widths[column] = list1[column];
    for (int column = 0; column < list2ColumnCount; ++column)
        settings.list2Widths[column] = list2[column];
    return settings;
}

// As the window takes what was read: every value found replaces the one in force.
void applyRead(WindowSettings &window, const WindowSettings &read)
{
    for (auto field :
         {&WindowSettings::top, &WindowSettings::left, &WindowSettings::width, &WindowSettings::height}) {
        if (read.*field)
            window.*field = read.*field;
    }
    for (int column = 0; column < list1ColumnCount; ++column) {
        if (read.list1Widths[column])
            window.list1Widths[column] = read.list1Widths[column];
    }
    for (int column = 0; column < list2ColumnCount; ++column) {
        if (read.list2Widths[column])
            window.list2Widths[column] = read.list2Widths[column];
    }
}

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
        WindowSettings window = layoutSettings();
        QElapsedTimer timer;
        timer.start();
        applyRead(window, LoadSettings(path));
        SaveSettings(path, window);
        best = qMin(best, double(timer.nsecsElapsed()) / 1e9);
    }
    std::printf("%.6f\n", best);
    return 0;
}
