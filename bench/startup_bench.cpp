// Start-up time of the real program: from the moment its process is started to the moment its main
// window is mapped on a private X server with a window manager, with list 1 empty and with large
// list files. Prints "NAME VALUE" lines for bench/run.sh:
//   startup_empty_seconds           median start with no list files
//   startup_N_seconds               median start with N entries in list 1
//   startup_N_vs_empty              the same divided by the empty start
//
//   startup_bench PORADDR LIST1_FILE:N [LIST1_FILE:N ...] [--repeats R]   (R measured rounds, 7 by default)
//
// Each LIST1_FILE is copied beside a fresh copy of the program as its PorAddr1.lst. The program is
// killed once its window shows: a close would save the whole list again, which is not start-up.

#include "x11session.h"

#include <QCoreApplication>
#include <QElapsedTimer>

// Xlib last: its macros (None, Bool, Status ...) must not reach a Qt header.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Watches the display through Xlib, without a helper process per look, so that the poll costs
// next to nothing beside the program being measured.
class WindowWatch {
public:
    explicit WindowWatch(const QString &display) : dpy_(XOpenDisplay(display.toLatin1().constData()))
    {
        if (!dpy_)
            return;
        clientList_ = XInternAtom(dpy_, "_NET_CLIENT_LIST", False);
        pidAtom_ = XInternAtom(dpy_, "_NET_WM_PID", False);
        nameAtom_ = XInternAtom(dpy_, "_NET_WM_NAME", False);
        utf8_ = XInternAtom(dpy_, "UTF8_STRING", False);
    }
    ~WindowWatch()
    {
        if (dpy_)
            XCloseDisplay(dpy_);
    }
    WindowWatch(const WindowWatch &) = delete;
    WindowWatch &operator=(const WindowWatch &) = delete;

    bool isOpen() const { return dpy_ != nullptr; }

    // True once a window managed for the process, with the program's title, is viewable.
    bool mainWindowShown(qint64 pid, const QByteArray &title)
    {
        for (Window window : property<Window>(DefaultRootWindow(dpy_), clientList_, XA_WINDOW)) {
            const std::vector<unsigned long> pids = property<unsigned long>(window, pidAtom_, XA_CARDINAL);
            if (pids.empty() || qint64(pids.front()) != pid)
                continue;
            const std::vector<char> name = property<char>(window, nameAtom_, utf8_);
            if (QByteArray(name.data(), int(name.size())) != title)
                continue;
            XWindowAttributes attributes;
            if (XGetWindowAttributes(dpy_, window, &attributes) && attributes.map_state == IsViewable)
                return true;
        }
        return false;
    }

private:
    // Xlib hands 32-bit properties over as longs, 8-bit ones as chars.
    template <typename T> std::vector<T> property(Window window, Atom name, Atom type)
    {
        Atom actualType = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        std::vector<T> values;
        if (XGetWindowProperty(dpy_, window, name, 0, 65536, False, type, &actualType, &format, &count,
                               &after, &data) == Success &&
            data) {
            const T *items = reinterpret_cast<const T *>(data);
            values.assign(items, items + count);
        }
        if (data)
            XFree(data);
        return values;
    }

    Display *dpy_ = nullptr;
    Atom clientList_ = None, pidAtom_ = None, nameAtom_ = None, utf8_ = None;
};

// X errors for windows that vanish between two requests are expected while processes come and go.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Case {
    QString name;     // "empty" or the entry count
    QString listFile; // empty for no list file
};

// One start: seconds from process start to the main window shown, or a negative value on failure.
double timeOneStart(const e2e::X11Session &session, WindowWatch &watch, const e2e::ProgramFolder &folder)
{
    e2e::PorAddrProcess program(session, folder);
    QElapsedTimer clock;
    clock.start();
    if (!program.start())
        return -1;
    const QByteArray title = e2e::mainTitle().toUtf8();
    const bool shown = e2e::waitFor([&] { return watch.mainWindowShown(program.pid(), title); }, 60000, 2);
    const double seconds = clock.nsecsElapsed() / 1e9;
    program.killHard();
    return shown ? seconds : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int repeats = 7;
    const qsizetype repeatsAt = args.indexOf(QStringLiteral("--repeats"));
    if (repeatsAt >= 0 && repeatsAt + 1 < args.size()) {
        repeats = qMax(1, args.at(repeatsAt + 1).toInt());
        args.remove(repeatsAt, 2);
    }
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: startup_bench PORADDR LIST1_FILE:N [LIST1_FILE:N ...] [--repeats R]\n");
        return 2;
    }
    qputenv("PORADDR_EXE", QFile::encodeName(args.takeFirst()));

    std::vector<Case> cases{{QStringLiteral("empty"), QString()}};
    for (const QString &arg : args) {
        const qsizetype colon = arg.lastIndexOf(QLatin1Char(':'));
        if (colon <= 0) {
            std::fprintf(stderr, "startup_bench: expected LIST1_FILE:N, got %s\n", qPrintable(arg));
            return 2;
        }
        cases.push_back({arg.mid(colon + 1), arg.left(colon)});
    }

    e2e::X11Session session;
    if (!session.isReady()) {
        std::fprintf(stderr, "startup_bench: %s\n", qPrintable(session.error()));
        return 1;
    }
    XSetErrorHandler(ignoreXErrors);
    WindowWatch watch(session.display());
    if (!watch.isOpen()) {
        std::fprintf(stderr, "startup_bench: cannot open display %s\n", qPrintable(session.display()));
        return 1;
    }

    // One folder per case, prepared once; the cases then take turns, round after round, so that a
    // slow spell of the machine falls on all of them alike. Round 0 brings the program and the files
    // into the page cache and is not counted.
    std::vector<std::unique_ptr<e2e::ProgramFolder>> folders;
    for (const Case &c : cases) {
        folders.push_back(std::make_unique<e2e::ProgramFolder>());
        const e2e::ProgramFolder &folder = *folders.back();
        if (!folder.isValid()) {
            std::fprintf(stderr, "startup_bench: %s\n", qPrintable(folder.error()));
            return 1;
        }
        if (!c.listFile.isEmpty() && !QFile::copy(c.listFile, folder.file(QStringLiteral("PorAddr1.lst")))) {
            std::fprintf(stderr, "startup_bench: cannot copy %s\n", qPrintable(c.listFile));
            return 1;
        }
    }
    std::vector<std::vector<double>> times(cases.size());
    for (int round = 0; round <= repeats; ++round) {
        for (size_t i = 0; i < cases.size(); ++i) {
            const double seconds = timeOneStart(session, watch, *folders[i]);
            if (seconds < 0) {
                std::fprintf(stderr, "startup_bench: no main window with %s entries\n",
                             qPrintable(cases[i].name));
                return 1;
            }
            if (round > 0)
                times[i].push_back(seconds);
        }
    }

    const double empty = median(times[0]);
    std::printf("startup_empty_seconds %.3f\n", empty);
    for (size_t i = 1; i < cases.size(); ++i) {
        const double seconds = median(times[i]);
        std::printf("startup_%s_seconds %.3f\n", qPrintable(cases[i].name), seconds);
        std::printf("startup_%s_vs_empty %.2f\n", qPrintable(cases[i].name), seconds / empty);
    }
    return 0;
}
