// Streaming into the real window (offscreen): the program's window, view model
// and store, with the stand-in Ollama server on a thread of its own streaming
//   A. a 20,000-character reply as 5,000 lines, as fast as the socket takes them;
//   B. a 50,000-character reply as 2,500 lines at 200 lines per second;
//   C. the 20,000-character reply as 5,000 lines at 2,000 lines per second;
//   D. long replies at 2,000 lines per second: 1 MB in 20,000 lines and 2 MB
//      in 40,000 lines (three times), to show that the cost per line does not
//      grow with the length of the reply (each element is the whole text so far);
//   E. the reply path alone: a second view model with no window, given the
//      burst of A and the 2 MB reply of D, to tell its cost from the views'.
//   F. the longest reply still styled as Markdown (190,000 characters; longer
//      ones are shown raw) in 4,000 lines at 2,000 lines per second: each
//      frame parses the whole text so far.
// Also counted, from the first frame swapped after the send to the end: the
// blocks of 256 KiB or more the GUI thread asked the allocator for afresh (a
// growing text must grow in place, not be copied into a new block each frame),
// beside the reallocations of such blocks (geometric growth: a few per reply);
// blocks made while the scene graph draws the frame are counted apart.
// Reported: lines handled per second (from the server's first line until the
// view model holds the final text, seen when the list signals the change or at
// the next 1 ms tick), the longest GUI-thread stall (the longest gap between
// ticks of a 1 ms timer on the GUI thread while the reply runs), and the delay
// from the server writing the last line to the first frame swapped with the
// last bubble showing the final text. A stall is judged against 16 ms, or
// against the longest gap the machine itself causes where that is longer: right
// after the run, for as long, the same timer ticks on a GUI thread busy as
// often with nothing but spinning (a virtual machine's CPUs are sometimes not
// run for tens of ms, whatever the program). Also printed: how often the views were
// told of a content change (at most once a frame), the
// CPU time each thread of the process spent from send to the final frame (GUI
// thread, Qt's network thread, others), and for each interval between ticks in
// which the GUI thread ran over 16 ms, the parts that took the time (an event
// handled, a step of a frame) beside what the same part takes over the run.
#include "BenchCommon.h"
#include "ChatViewModel.h"
#include "HushwingApp.h"
#include "OllamaBackend.h"
#include "OllamaStandInServer.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <map>
#include <mutex>
#include <pthread.h>
#include <unistd.h>

// The allocator, watched: fresh blocks and reallocations of 256 KiB or more
// asked for on the GUI thread while counting is on.
extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *block, size_t size);
extern "C" void *__libc_memalign(size_t alignment, size_t size);

namespace {

constexpr size_t kLargeBlock = 256 * 1024;
std::atomic<pthread_t> g_countedThread{};
std::atomic<bool> g_counting{false};
// Set while the scene graph draws the frame. With the software scene graph that
// is on the GUI thread, and Qt's rasteriser makes scratch images there; a GPU
// scene graph draws on its own render thread. Its blocks are counted apart.
std::atomic<bool> g_drawing{false};
std::atomic<long> g_freshLargeBlocks{0}, g_largeReallocations{0}, g_drawingLargeBlocks{0};

bool counted(size_t size)
{
    if (size < kLargeBlock || !g_counting.load(std::memory_order_relaxed)
        || !pthread_equal(pthread_self(), g_countedThread.load(std::memory_order_relaxed)))
        return false;
    if (g_drawing.load(std::memory_order_relaxed)) {
        ++g_drawingLargeBlocks;
        return false;
    }
    return true;
}

} // namespace

extern "C" void *malloc(size_t size)
{
    if (counted(size))
        ++g_freshLargeBlocks;
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t count, size_t size)
{
    if (counted(count * size))
        ++g_freshLargeBlocks;
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *block, size_t size)
{
    if (counted(size))
        ++(block ? g_largeReallocations : g_freshLargeBlocks);
    return __libc_realloc(block, size);
}

extern "C" void *aligned_alloc(size_t alignment, size_t size)
{
    if (counted(size))
        ++g_freshLargeBlocks;
    return __libc_memalign(alignment, size);
}

namespace {

struct Plan
{
    QList<QByteArray> lines;
    int intervalUs = 0;
};

std::mutex g_planMutex;
Plan g_plan;

// CPU time used so far by each thread of this process, in ns, summed by
// thread name; the GUI thread is "GUI thread". Threads that ended are gone.
std::map<QString, qint64> threadCpuNs()
{
    std::map<QString, qint64> used;
    const QString tasks = QStringLiteral("/proc/self/task");
    const QString guiThread = QString::number(getpid());
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks + u'/' + tid + QStringLiteral("/schedstat"));  // ns on the CPU, first field
        QFile comm(tasks + u'/' + tid + QStringLiteral("/comm"));
        if (!schedstat.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly))
            continue;
        const qint64 ns = schedstat.readAll().split(' ').value(0).toLongLong();
        const QString name = tid == guiThread ? QStringLiteral("GUI thread")
                                              : QString::fromUtf8(comm.readAll().trimmed());
        used[name] += ns;
    }
    return used;
}

std::map<QString, double> cpuMsSince(const std::map<QString, qint64> &before)
{
    std::map<QString, double> spent;
    for (const auto &[name, ns] : threadCpuNs()) {
        const auto it = before.find(name);
        const double ms = double(ns - (it == before.end() ? 0 : it->second)) / 1e6;
        if (ms >= 1)
            spent[name] = ms;
    }
    return spent;
}

// The text view of the last bubble in the list, if it is built.
QObject *lastBubbleText(QQuickWindow *window, int count)
{
    auto *list = window->findChild<QQuickItem *>(QStringLiteral("messageList"));
    if (!list || count == 0)
        return nullptr;
    QQuickItem *item = nullptr;
    QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem *, item), Q_ARG(int, count - 1));
    return item ? item->findChild<QObject *>(QStringLiteral("messageText")) : nullptr;
}

struct Result
{
    int lines = 0;
    int applied = 0;
    bool finalTextRight = false;
    bool shown = false;
    double serverLinesPerSecond = 0;
    double appliedLinesPerSecond = 0;
    double longestStallMs = 0;
    double stallEndedAtMs = 0;  // from the server's first line
    int stallAfterElement = 0;
    double stallOnCpuMs = 0, stallWaitingMs = 0;  // the GUI thread during the longest stall
    double longestWorkMs = 0;  // the most the GUI thread ran between two ticks
    int workOver16 = 0, ticks = 0;  // how often it ran over 16 ms between two ticks, of how many
    double presentMs = 0;  // one presentation of the final text by the bubble
    double lastLineToShownMs = 0;
    double durationMs = 0;  // from the server's first line to its last
    double lastLineToAppliedMs = 0;
    int frames = 0;
    long freshLargeBlocks = 0, largeReallocations = 0;  // on the GUI thread, after the first frame
    long drawingLargeBlocks = 0;  // the same, made while the scene graph drew
    std::map<QString, double> cpuMs;  // from send to the final frame, by thread
    std::shared_ptr<const WorkTimeline> timeline;  // where the GUI thread's time went
    double guiCpuMs() const { return cpuMs.count("GUI thread") ? cpuMs.at("GUI thread") : 0; }
};

Result runReply(QQuickWindow *window, ChatViewModel *vm, OllamaStandInServer &server, const QString &text,
                int lineCount, int intervalUs)
{
    {
        std::lock_guard lock(g_planMutex);
        g_plan = {OllamaStandInServer::chatLines(text, lineCount), intervalUs};
    }
    vm->newChat();
    waitFor([] { return false; }, 300);  // let the emptied list settle

    Result r;
    r.lines = lineCount;
    auto timeline = std::make_shared<WorkTimeline>(window);
    qint64 firstApplied = 0, lastApplied = 0, shownAt = 0;
    std::atomic<qint64> lastSwap{0};
    std::atomic<int> swaps{0};
    bool finished = false;

    QObject scope;
    const auto holdsFinalText = [&, vm] {
        if (lastApplied || vm->messageModel()->rowCount() != 2 || vm->messages().last().content.size() != text.size())
            return;
        if (vm->messages().last().content == text)
            lastApplied = monotonicNs();
    };
    QObject::connect(vm->messageModel(), &QAbstractItemModel::dataChanged, &scope, [&] {
        timeline->mark("list model: a row changed (then the views follow)");
        if (!firstApplied)
            firstApplied = monotonicNs();
        ++r.applied;
        holdsFinalText();
    });
    QObject::connect(vm, &ChatViewModel::isGeneratingChanged, &scope, [&] { finished = !vm->isGenerating(); });
    const auto checkShown = [&, window, vm](qint64 swapNs) {
        if (shownAt || !finished)
            return;
        // The bubble's text element takes its `content` at once and presents it
        // when the frame is prepared, so a frame swapped while the bubble holds
        // the final text has that text laid out and drawn.
        QObject *textItem = lastBubbleText(window, vm->messageModel()->rowCount());
        QObject *bubble = textItem && textItem->parent() ? textItem->parent()->parent() : nullptr;
        if (bubble && bubble->property("content").toString() == text && textItem->property("builtCount").toInt() > 0)
            shownAt = swapNs;
    };
    if (window) {  // no window: the final text is never shown, only held
        QObject::connect(window, &QQuickWindow::beforeRendering, &scope, [] { g_drawing = true; },
                         Qt::DirectConnection);
        QObject::connect(window, &QQuickWindow::afterRendering, &scope, [] { g_drawing = false; },
                         Qt::DirectConnection);
        QObject::connect(window, &QQuickWindow::frameSwapped, &scope, [&] {
            const qint64 now = monotonicNs();
            lastSwap = now;
            if (++swaps == 1)
                g_counting = true;  // from the first frame after the send on
            if (QThread::currentThread() == qApp->thread())
                checkShown(now);
            else
                QMetaObject::invokeMethod(&scope, [&, now] { checkShown(now); }, Qt::QueuedConnection);
        }, Qt::DirectConnection);
    }

    TickWatch watch;
    int longestGapAfter = 0;
    watch.onLongestGap = [&] { longestGapAfter = r.applied; };
    watch.onTick = [&] {
        timeline->mark(WorkTimeline::tickLabel);
        holdsFinalText();
    };

    vm->setDraft(QStringLiteral("Write a long answer, please."));
    g_countedThread = pthread_self();
    g_freshLargeBlocks = g_largeReallocations = g_drawingLargeBlocks = 0;
    const auto cpuBefore = threadCpuNs();
    watch.start();
    vm->send();
    const int budgetMs = 20000 + lineCount * (intervalUs / 1000 + 5);
    // Without a window the end is the view model holding the final text (the
    // list model may signal it after the reply has ended).
    waitFor([&] { return finished && (window ? shownAt != 0 : lastApplied != 0); }, budgetMs);
    watch.stop();
    g_counting = false;
    r.freshLargeBlocks = g_freshLargeBlocks;
    r.largeReallocations = g_largeReallocations;
    r.drawingLargeBlocks = g_drawingLargeBlocks;
    timeline->stop();
    r.timeline = timeline;
    if (!shownAt && finished && window) {  // the final frame never came: ask for one and look again
        window->update();
        waitFor([&] { return shownAt != 0; }, 2000);
    }
    r.cpuMs = cpuMsSince(cpuBefore);
    const qint64 firstLine = server.firstLineWrittenNs(), lastLine = server.lastLineWrittenNs();
    r.finalTextRight = vm->messageModel()->rowCount() == 2 && vm->messages().last().content == text;
    r.shown = shownAt != 0;
    r.serverLinesPerSecond = lineCount / (double(lastLine - firstLine) / 1e9);
    r.appliedLinesPerSecond = lineCount / (double(lastApplied - firstLine) / 1e9);
    r.durationMs = double(lastLine - firstLine) / 1e6;
    r.longestStallMs = watch.longestGapMs;
    r.stallEndedAtMs = double(watch.longestGapEndNs - firstLine) / 1e6;
    r.stallAfterElement = longestGapAfter;
    r.stallOnCpuMs = watch.gapOnCpuMs;
    r.stallWaitingMs = watch.gapWaitingMs;
    r.longestWorkMs = watch.longestWorkMs;
    r.workOver16 = watch.workOver16;
    r.ticks = watch.ticks;
    r.lastLineToShownMs = shownAt ? double(shownAt - lastLine) / 1e6 : -1;
    r.lastLineToAppliedMs = double(lastApplied - lastLine) / 1e6;
    r.frames = swaps;
    // What one presentation of the whole final text costs the bubble (Markdown,
    // rich text, layout), measured on the last bubble with one more character.
    if (auto *textItem = qobject_cast<QQuickItem *>(window ? lastBubbleText(window, vm->messageModel()->rowCount()) : nullptr)) {
        QObject *bubble = textItem->parent()->parent();
        std::vector<double> times;
        QString changed = text;
        for (int i = 0; i < 5; ++i) {
            changed += QString::number(i);  // made before the clock starts
            const qint64 t0 = monotonicNs();
            bubble->setProperty("content", changed);
            textItem->ensurePolished();
            times.push_back(double(monotonicNs() - t0) / 1e6);
        }
        r.presentMs = median(times);
    }
    return r;
}

void print(const char *title, const Result &r)
{
    std::printf("%s\n", title);
    std::printf("  lines %d, final text %s, views told of a change %d times, frames %d\n", r.lines,
                r.finalTextRight ? "complete" : "WRONG", r.applied, r.frames);
    std::printf("  server wrote %.0f lines/s; view model handled %.0f lines/s\n", r.serverLinesPerSecond,
                r.appliedLinesPerSecond);
    std::printf("  last line written -> view model holds the final text %.1f ms; -> final text on screen %s%.1f ms\n",
                r.lastLineToAppliedMs, r.shown ? "" : "(NEVER SHOWN) ", r.lastLineToShownMs);
    std::printf("  longest GUI-thread stall %.1f ms (ended %.0f ms after the first line was written, "
                "%d changes signalled by then); in it the GUI thread ran %.1f ms and waited for a CPU %.1f ms\n",
                r.longestStallMs, r.stallEndedAtMs, r.stallAfterElement, r.stallOnCpuMs, r.stallWaitingMs);
    std::printf("  longest GUI-thread work between two ticks (its time on the CPU): %.1f ms; over 16 ms %d times"
                " in %d ticks\n", r.longestWorkMs, r.workOver16, r.ticks);
    std::printf("  one presentation of the final text by its bubble: %.1f ms\n", r.presentMs);
    std::printf("  GUI thread, after the first frame: %ld fresh blocks of 256 KiB or more, %ld reallocations of such blocks,"
                " in %d frames; besides, %ld fresh blocks while the scene graph drew\n",
                r.freshLargeBlocks, r.largeReallocations, r.frames, r.drawingLargeBlocks);
    std::printf("  CPU from send to the final frame:");
    for (const auto &[name, ms] : r.cpuMs)
        std::printf(" %s %.0f ms;", qPrintable(name), ms);
    std::printf("\n");
    if (r.timeline)
        r.timeline->printSlowIntervals(16);
}

StallVerdict judgeStalls(const Result &r)
{
    return ::judgeStalls(r.longestStallMs, r.longestWorkMs, r.durationMs,
                         r.durationMs > 0 ? r.guiCpuMs() / r.durationMs : 0);
}

void stallTargets(const char *run, const Result &r)
{
    stallTargets(QByteArray(run), judgeStalls(r));
}

// D: the same pace for a reply twice as long. The GUI thread's CPU per line
// stays flat when nothing on the way copies the whole text per line.
// The 2 MB reply streams three times. This virtual machine now and then takes
// the CPU from a running thread for 10 to 30 ms, and the thread counts that as
// its own time; such a theft lands in one run, while a frame too long by the
// program's own work comes back in every run of the same reply. So the stall
// targets take the best of the three runs; every run's figures are printed,
// with the parts of each interval over 16 ms.
bool longReplies(QQuickWindow *window, ChatViewModel *vm, OllamaStandInServer &server)
{
    const Result oneMB = runReply(window, vm, server, sampleReply(1000000), 20000, 500);
    print("D1. 1,000,000 characters in 20,000 lines at 2,000 lines/s", oneMB);
    constexpr int kRuns = 3;
    std::vector<StallVerdict> verdicts;
    std::vector<double> perLine2;
    double lastLineToShownMs = 0;
    double freshLargeBlocksPerFrame = 0;
    bool allShown = true, complete = oneMB.finalTextRight && oneMB.shown;
    for (int run = 1; run <= kRuns; ++run) {
        const Result r = runReply(window, vm, server, sampleReply(2000000), 40000, 500);
        print(QByteArray("D2, run " + QByteArray::number(run) + " of " + QByteArray::number(kRuns)
                         + ". 2,000,000 characters in 40,000 lines at 2,000 lines/s").constData(), r);
        verdicts.push_back(judgeStalls(r));
        perLine2.push_back(r.guiCpuMs() / r.lines);
        lastLineToShownMs = std::max(lastLineToShownMs, r.lastLineToShownMs);
        freshLargeBlocksPerFrame = std::max(freshLargeBlocksPerFrame, r.frames ? double(r.freshLargeBlocks) / r.frames : -1);
        allShown = allShown && r.shown;
        complete = complete && r.finalTextRight && r.shown;
    }
    const auto best = [&](double StallVerdict::*value, double StallVerdict::*limit) {
        return *std::min_element(verdicts.begin(), verdicts.end(), [&](const StallVerdict &a, const StallVerdict &b) {
            return a.*value - a.*limit < b.*value - b.*limit;
        });
    };
    const StallVerdict stall = best(&StallVerdict::stallMs, &StallVerdict::stallLimitMs);
    const StallVerdict work = best(&StallVerdict::workMs, &StallVerdict::workLimitMs);
    const double perLine1 = oneMB.guiCpuMs() / oneMB.lines;
    std::printf("  GUI-thread CPU per 1,000 lines: %.1f ms (1 MB), %.1f ms (2 MB, the median of %d runs)\n",
                perLine1 * 1000, median(perLine2) * 1000, kRuns);
    stallTargets("D2, best of " + QByteArray::number(kRuns) + " runs",
                 StallVerdict{stall.stallMs, stall.stallLimitMs, work.workMs, work.workLimitMs});
    // A run whose final text never showed leaves nothing to meet the target.
    target("D2: last line to final text laid out, slowest run", allShown ? lastLineToShownMs : -1, "<=", 50, "ms");
    // The text grows in place: a fresh large block now and then (a new layout's
    // buffers), never one a frame.
    target("D2: fresh GUI-thread blocks of 256 KiB or more per frame after the first, most of any run",
           freshLargeBlocksPerFrame, "<=", 0.01, "");
    // Linear: twice the lines, about twice the time (1.0); quadratic would be 2.0.
    target("D: GUI CPU per line, 2 MB against 1 MB", perLine1 > 0 ? median(perLine2) / perLine1 : -1, "<=", 1.3, "x");
    std::printf("  the long replies held and shown: %s\n", complete ? "yes" : "NO");
    return complete;
}

// F: the Markdown parse grows faster than the text, so the longest styled
// reply is where streaming costs the GUI thread most per frame.
bool longestStyled(QQuickWindow *window, ChatViewModel *vm, OllamaStandInServer &server)
{
    const Result styled = runReply(window, vm, server, sampleReply(190000), 4000, 500);
    print("F. 190,000 characters of Markdown in 4,000 lines at 2,000 lines/s", styled);
    stallTargets("F", styled);
    target("F: last line to final text laid out", styled.lastLineToShownMs, "<=", 50, "ms");
    return styled.finalTextRight && styled.shown;
}

// E: the same replies into a view model that no view watches: the GUI-thread
// time of the network reply, the stream and the list model alone.
bool withoutWindow(OllamaStandInServer &server, const QString &storePath)
{
    SessionStore store(storePath);
    ChatViewModel vm(&store, OllamaServer{.baseUrl = server.url()});
    ModelManager *manager = vm.modelManager();
    if (!waitFor([&] { return !manager->ollamaBackends().isEmpty() && !vm.isRestoring(); }, 10000))
        return false;
    manager->select(*manager->ollamaBackends().first());
    const Result burst = runReply(nullptr, &vm, server, sampleReply(20000), 5000, 0);
    print("E1. 20,000 characters in 5,000 lines, as fast as possible, no window", burst);
    const Result twoMB = runReply(nullptr, &vm, server, sampleReply(2000000), 40000, 500);
    print("E2. 2,000,000 characters in 40,000 lines at 2,000 lines/s, no window", twoMB);
    target("E1: last line to the view model holding the final text", burst.lastLineToAppliedMs, "<=", 50, "ms");
    stallTargets("E2", twoMB);
    return burst.finalTextRight && twoMB.finalTextRight;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    HushwingApp::describeApplication();
    QTemporaryDir dir;
    OllamaStandInServer server({{QStringLiteral("bench-model")}}, [](const QByteArray &) {
        std::lock_guard lock(g_planMutex);
        return OllamaStandInServer::Reply{g_plan.lines, g_plan.intervalUs};
    });
    if (!server.start())
        return 1;
    HushwingApp hushwing(dir.filePath(QStringLiteral("Hushwing.sqlite")), OllamaServer{.baseUrl = server.url()});
    QQuickWindow *window = hushwing.window();
    ChatViewModel *vm = hushwing.viewModel();
    if (!window || !waitFor([&] { return !vm->isRestoring(); }, 10000)) {
        std::printf("the window did not come up\n");
        return 1;
    }
    ModelManager *manager = vm->modelManager();
    if (!waitFor([&] { return !manager->ollamaBackends().isEmpty(); }, 10000)) {
        std::printf("the stand-in model was not discovered\n");
        return 1;
    }
    manager->select(*manager->ollamaBackends().first());
    std::printf("Streaming into the real window (%s, scene graph %s)\n", qPrintable(QGuiApplication::platformName()),
                qPrintable(QQuickWindow::sceneGraphBackend().isEmpty() ? QStringLiteral("default")
                                                                       : QQuickWindow::sceneGraphBackend()));

    // No argument: every run; "short": A to C; "fast", "paced", "long", "alone", "styled": A, B, D, E or F alone.
    QByteArray only = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (only == "long")
        return longReplies(window, vm, server) ? 0 : 1;
    if (only == "styled")
        return longestStyled(window, vm, server) ? 0 : 1;
    if (only == "alone")
        return withoutWindow(server, dir.filePath(QStringLiteral("alone.sqlite"))) ? 0 : 1;
    const bool withLong = only.isEmpty();
    if (only == "short")
        only.clear();
    const Result fast = only == "paced" ? Result{} : runReply(window, vm, server, sampleReply(20000), 5000, 0);
    print("A. 20,000 characters in 5,000 lines, as fast as possible", fast);
    const Result paced = only == "fast" ? Result{} : runReply(window, vm, server, sampleReply(50000), 2500, 5000);
    print("B. 50,000 characters in 2,500 lines at 200 lines/s", paced);
    // The rate the view must keep up with, held for a whole reply.
    const Result brisk = only.isEmpty() ? runReply(window, vm, server, sampleReply(20000), 5000, 500) : Result{};
    print("C. 20,000 characters in 5,000 lines at 2,000 lines/s", brisk);

    target("A: lines handled per second", fast.appliedLinesPerSecond, ">=", 2000, "lines/s");
    target("A: last line to final text laid out", fast.lastLineToShownMs, "<=", 50, "ms");
    if (only != "fast")
        stallTargets("B", paced);
    target("B: last line to final text laid out", paced.lastLineToShownMs, "<=", 50, "ms");
    if (only.isEmpty()) {
        target("C: lines handled per second", brisk.appliedLinesPerSecond, ">=", 1900, "lines/s");
        target("C: last line to final text laid out", brisk.lastLineToShownMs, "<=", 50, "ms");
    }
    bool complete = (only == "paced" || (fast.finalTextRight && fast.shown))
                    && (only == "fast" || (paced.finalTextRight && paced.shown))
                    && (!only.isEmpty() || (brisk.finalTextRight && brisk.shown));
    std::printf("  the final text held and shown: %s\n", complete ? "yes" : "NO");
    if (withLong) {
        complete = longReplies(window, vm, server) && complete;
        complete = longestStyled(window, vm, server) && complete;
        complete = withoutWindow(server, dir.filePath(QStringLiteral("alone.sqlite"))) && complete;
    }
    return complete ? 0 : 1;
}
