// What bench_startup launches. Built three times: as the program (the same
// start-up as HushwingApp::main: application identity, the store at its usual
// path, the window), as the baseline (a minimal Qt Quick window) and as the
// toolkit floor (the same window made with Qt Quick Controls: an
// ApplicationWindow holding one Label, what any Controls program pays). Each prints, on
// CLOCK_MONOTONIC, when its window's first frame was swapped and the CPU time
// the process had used by then (the program also when the first frame showing
// its stored conversation was, which comes later when the store is still being
// read), then its peak resident memory half a second after that (and after a
// long conversation's later texts are all in), and ends at once without
// tearing down.
// Only this bench executable has the frame hook; the program itself has none.
#include <QGuiApplication>
#include <QQuickWindow>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <functional>
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

// False while the program is still reading the later texts of a long
// conversation: peak memory is reported only once they are all in.
std::function<bool()> restoredWhole = [] { return true; };

void reportRssSoonAndExit()
{
    if (!restoredWhole()) {
        QTimer::singleShot(20, reportRssSoonAndExit);
        return;
    }
    QTimer::singleShot(500, [] {
        std::printf("rss %ld\n", peakRssKb());
        std::fflush(stdout);
        _exit(0);
    });
}

// `conversationShown`: false while the program's stored conversation is still
// being read; the frame after it turns true is reported as "shown".
void watchFirstFrame(QQuickWindow *window, std::function<bool()> conversationShown = [] { return true; })
{
    if (!window) {
        std::printf("error no-window\n");
        std::fflush(stdout);
        _exit(2);
    }
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [conversationShown] {
        static bool seen = false, shown = false;
        if (shown)
            return;
        if (!seen) {
            seen = true;
            std::printf("frame %lld\ncpu %lld\n", monotonicNs(), processCpuNs());
            std::fflush(stdout);
        }
        // The swap may be reported on the render thread: the rest runs on the GUI thread.
        QMetaObject::invokeMethod(qApp, [conversationShown, now = monotonicNs()] {
            if (shown || !conversationShown())
                return;
            shown = true;
            std::printf("shown %lld\n", now);
            std::fflush(stdout);
            reportRssSoonAndExit();
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
    HushwingApp hushwing(SessionStore::defaultPath(), OllamaServer());
    // The conversation is shown in the first frame drawn once the view model
    // has it (a long one's first messages): the store is read on its own thread.
    QObject::connect(hushwing.store(), &SessionStore::opened, [window = hushwing.window()] {
        std::printf("read %lld\n", monotonicNs());  // the store has been read (on its own thread)
        std::fflush(stdout);
        if (window)
            window->update();
    });
    watchFirstFrame(hushwing.window(), [store = hushwing.store()] { return store->isOpen(); });
    restoredWhole = [store = hushwing.store()] { return !store->isRestoring(); };
#endif
    std::printf("loaded %lld\n", monotonicNs());  // window and its QML created
    return app.exec();
}
