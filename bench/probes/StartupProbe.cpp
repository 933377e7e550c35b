// What bench_startup launches. Built three times: as the program (the same
// start-up as HushwingApp::main: application identity, the store at its usual
// path, the window), as the baseline (a minimal Qt Quick window) and as the
// toolkit floor (the same window made with Qt Quick Controls: an
// ApplicationWindow holding one Label, what any Controls program pays). Each prints, on
// CLOCK_MONOTONIC, when its window's first frame was swapped (and the CPU time
// the process had used by then), then its peak resident memory half a second later, and ends at once without tearing down.
// Only this bench executable has the frame hook; the program itself has none.
#include <QGuiApplication>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>
#include <time.h>
#include <unistd.h>

#if defined(PROBE_BASELINE) || defined(PROBE_CONTROLS)
#include <QQmlApplicationEngine>
#else
#include "HushwingApp.h"
#include "SessionStore.h"
#endif

namespace {

long long monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// CPU time of the whole process so far (all threads).
long long processCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

long peakRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void watchFirstFrame(QQuickWindow *window)
{
    if (!window) {
        std::printf("error no-window\n");
        std::fflush(stdout);
        _exit(2);
    }
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [] {
        static bool seen = false;
        if (seen)
            return;
        seen = true;
        std::printf("frame %lld\ncpu %lld\n", monotonicNs(), processCpuNs());
        std::fflush(stdout);
        // The swap may be reported on the render thread: the rest runs on the GUI thread.
        QMetaObject::invokeMethod(qApp, [] {
            QTimer::singleShot(500, [] {
                std::printf("rss %ld\n", peakRssKb());
                std::fflush(stdout);
                _exit(0);
            });
        }, Qt::QueuedConnection);
    }, Qt::DirectConnection);
}

} // namespace

int main(int argc, char *argv[])
{
    std::printf("main %lld\n", monotonicNs());  // libraries loaded and relocated
    QGuiApplication app(argc, argv);
#ifdef PROBE_BASELINE
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nWindow { width: 640; height: 800; visible: true; "
                    "Text { anchors.centerIn: parent; text: \"Hushwing\" } }");
    watchFirstFrame(engine.rootObjects().isEmpty()
                        ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first()));
#elif defined(PROBE_CONTROLS)
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick\nimport QtQuick.Controls\nApplicationWindow { width: 640; height: 800; "
                    "visible: true; Label { anchors.centerIn: parent; text: \"Hushwing\" } }");
    watchFirstFrame(engine.rootObjects().isEmpty()
                        ? nullptr : qobject_cast<QQuickWindow *>(engine.rootObjects().first()));
#else
    HushwingApp::describeApplication();
    HushwingApp hushwing(SessionStore::defaultPath());
    watchFirstFrame(hushwing.window());
#endif
    std::printf("loaded %lld\n", monotonicNs());  // window and its QML created
    return app.exec();
}
