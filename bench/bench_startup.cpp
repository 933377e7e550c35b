// Start-up: time from exec to the first frame, and peak resident memory, of the
// program (offscreen) with an empty store and with a stored conversation of
// 2,000 messages (about 1 MB), against a minimal Qt Quick window built in the
// same tree; and the first frame with one stored reply of 2 MB of short lines,
// and of 1 MB in one paragraph, against a conversation of two short messages.
// Each figure is the median of interleaved runs of separate processes.
//
// Method: the harness notes CLOCK_MONOTONIC just before it starts a probe with
// XDG_DATA_HOME pointing at a prepared folder; the probe (bench/probes) runs the
// same start-up as the program and prints the monotonic time of its window's
// first frameSwapped, then VmHWM half a second later.
#include "BenchCommon.h"
#include "OllamaStandInServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Launch
{
    double mainMs = -1;    // exec to main(): loading and relocating libraries
    double loadedMs = -1;  // exec to the window and its QML created
    double firstFrameMs = -1;
    double firstFrameCpuMs = -1;  // CPU time the process used until then
    double readMs = -1;    // exec to the store's record read (reported on the GUI thread)
    double shownMs = -1;   // exec to the first frame showing the stored conversation
    double peakRssMb = -1;
};

Launch launch(const QString &program, const QString &dataHome, const QString &runtimeDir)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    const qint64 started = monotonicNs();
    process.start(program, {});
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    Launch result;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("main "))
            result.mainMs = double(line.mid(5).toLongLong() - started) / 1e6;
        else if (line.startsWith("loaded "))
            result.loadedMs = double(line.mid(7).toLongLong() - started) / 1e6;
        else if (line.startsWith("frame "))
            result.firstFrameMs = double(line.mid(6).toLongLong() - started) / 1e6;
        else if (line.startsWith("cpu "))
            result.firstFrameCpuMs = double(line.mid(4).toLongLong()) / 1e6;
        else if (line.startsWith("read "))
            result.readMs = double(line.mid(5).toLongLong() - started) / 1e6;
        else if (line.startsWith("shown "))
            result.shownMs = double(line.mid(6).toLongLong() - started) / 1e6;
        else if (line.startsWith("rss "))
            result.peakRssMb = line.mid(4).toDouble() / 1024.0;
    }
    return result;
}

// First frame with a stored conversation holding one very long reply, as a
// ratio of the first frame with a question and a short reply, launched
// interleaved in the same run: showing a message costs what is on screen, not
// its length. Both the wall-clock time to the first frame and the CPU time
// the process used until then are compared: on a machine shared with other
// work the wall clock also measures the others. A probe that shows no frame
// within a minute counts as missed.
bool longReplyFirstFrames(const QString &appProbe, const QString &root, const QString &runtimeDir, int runs)
{
    struct Case
    {
        const char *name;
        Conversation conversation;
        QString home;
        std::vector<double> ms, cpuMs;
        bool shown = true;
    };
    std::vector<Case> cases = {{"2 messages", twoMessageConversation(), {}, {}, {}},
                               {"a 2 MB reply of short lines", longReplyConversation(2000000, false), {}, {}, {}},
                               {"a 1 MB reply in one paragraph", longReplyConversation(1000000, true), {}, {}, {}}};
    for (Case &c : cases) {
        c.home = root + QStringLiteral("/long-reply-%1").arg(&c - cases.data());
        if (!writeStore(c.home + QStringLiteral("/Hushwing/Hushwing.sqlite"), c.conversation)) {
            std::printf("could not prepare the stores\n");
            return false;
        }
        c.shown = launch(appProbe, c.home, runtimeDir).firstFrameMs >= 0;  // warms the file cache
    }
    std::printf("First frame with one long stored reply, median of %d runs each (wall clock; CPU time)\n", runs);
    for (int i = 0; i < runs; ++i) {
        for (Case &c : cases) {
            if (!c.shown)
                continue;
            const Launch l = launch(appProbe, c.home, runtimeDir);
            c.ms.push_back(l.firstFrameMs);
            c.cpuMs.push_back(l.firstFrameCpuMs);
            c.shown = l.firstFrameMs >= 0;
        }
    }
    bool met = true;
    const Case &base = cases[0];
    for (const Case &c : cases) {
        const QString what = QStringLiteral("first frame, %1 / 2 messages").arg(c.name);
        if (!c.shown) {
            std::printf("  %-36s no first frame within 60 s\n", c.name);
            met &= target(qPrintable(what), -1, "<=", 1.5, "x");
            continue;
        }
        std::printf("  %-36s first frame %7.1f ms (min %6.1f, max %6.1f), CPU %7.1f ms (min %6.1f, max %6.1f)\n",
                    c.name, median(c.ms), *std::min_element(c.ms.begin(), c.ms.end()), maximum(c.ms),
                    median(c.cpuMs), *std::min_element(c.cpuMs.begin(), c.cpuMs.end()), maximum(c.cpuMs));
        if (&c == &base)
            continue;
        met &= target(qPrintable(what), median(c.ms) / median(base.ms), "<=", 1.5, "x");
        met &= target(qPrintable(what + QStringLiteral(", CPU")), median(c.cpuMs) / median(base.cpuMs), "<=", 1.5, "x");
    }
    return met;
}

// Long stored conversations (short questions, replies of about 1 KB): the time
// until the conversation is first shown, and the peak memory, against a
// 2-message conversation, each run as a separate process, interleaved.
bool measureLongConversations(const QString &appProbe, const QString &root, const QString &runtimeDir, int runs)
{
    struct Size { const char *name; int messages; QString home; qsizetype textBytes = 0; std::vector<double> ms, mb, first, read; };
    // 200 messages fill the window's first screen as the long ones do: the
    // share of their time that is the store's own is what they add to it.
    std::vector<Size> sizes = {{"2 messages", 2, {}}, {"200 messages", 200, {}}, {"20,000 messages", 20000, {}},
                               {"100,000 messages", 100000, {}}};
    for (Size &size : sizes) {
        size.home = root + QStringLiteral("/long-%1").arg(size.messages);
        const Conversation conversation = questionsAndReplies(size.messages, 920);
        for (const QString &s : conversation.contents)
            size.textBytes += s.toUtf8().size();
        if (!writeStore(size.home + QStringLiteral("/Hushwing/Hushwing.sqlite"), conversation)) {
            std::printf("could not prepare the long stores\n");
            return false;
        }
    }
    std::printf("Start-up with long conversations, offscreen, median of %d runs each (exec to the first frame "
                "showing the conversation; VmHWM)\n", runs);
    for (Size &size : sizes)
        launch(appProbe, size.home, runtimeDir);  // warm the file cache; not counted
    for (int i = 0; i < runs; ++i) {
        for (Size &size : sizes) {
            const Launch l = launch(appProbe, size.home, runtimeDir);
            if (l.shownMs < 0 || l.peakRssMb < 0) {
                std::printf("  %s: the conversation was not shown\n", size.name);
                return false;
            }
            size.ms.push_back(l.shownMs);
            size.mb.push_back(l.peakRssMb);
            size.first.push_back(l.firstFrameMs);
            size.read.push_back(l.readMs);
        }
    }
    for (const Size &size : sizes)
        std::printf("  %-18s text %6.1f MB  shown after %7.1f ms (min %7.1f, max %7.1f)  peak RSS %6.1f MB\n",
                    size.name, double(size.textBytes) / 1e6, median(size.ms),
                    *std::min_element(size.ms.begin(), size.ms.end()), maximum(size.ms), median(size.mb));
    for (const Size &size : sizes)
        std::printf("  %-18s first frame %7.1f ms, record read %7.1f ms, conversation shown %7.1f ms\n", size.name,
                    median(size.first), median(size.read), median(size.ms));
    const double baseMs = median(sizes[0].ms), baseMb = median(sizes[0].mb);
    std::printf("  the same first screen from a short store: 20,000 / 200 messages %.2f x, 100,000 / 200 %.2f x\n",
                median(sizes[2].ms) / median(sizes[1].ms), median(sizes[3].ms) / median(sizes[1].ms));
    bool met = true;
    met &= target("shown, 20,000 messages / 2 messages", median(sizes[2].ms) / baseMs, "<=", 1.5, "x");
    met &= target("shown, 100,000 messages / 2 messages", median(sizes[3].ms) / baseMs, "<=", 2.5, "x");
    for (const Size &size : {sizes[2], sizes[3]}) {
        const QByteArray what = QByteArray("peak RSS, ") + size.name + " (2 messages + 3 x text)";
        met &= target(what.constData(), median(size.mb), "<=", baseMb + 3 * double(size.textBytes) / (1024 * 1024), "MB");
    }
    return met;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 9;
    const QString dir = QCoreApplication::applicationDirPath();
    const QString appProbe = dir + QStringLiteral("/probe_startup_app");
    const QString baselineProbe = dir + QStringLiteral("/probe_startup_baseline");
    const QString controlsProbe = dir + QStringLiteral("/probe_startup_controls");

    QTemporaryDir root;
    const QString runtimeDir = root.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtimeDir);
    QFile::setPermissions(runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // `bench_startup [runs] long-replies` measures the long stored replies only.
    if (argc > 2 && QByteArray(argv[2]) == "long-replies") {
        longReplyFirstFrames(appProbe, root.path(), runtimeDir, runs);
        return 0;
    }
    const QString emptyHome = root.filePath(QStringLiteral("empty"));
    const QString fullHome = root.filePath(QStringLiteral("full"));
    const Conversation conversation = sampleConversation(2000, 1000000);
    if (!writeStore(emptyHome + QStringLiteral("/Hushwing/Hushwing.sqlite"), {})
        || !writeStore(fullHome + QStringLiteral("/Hushwing/Hushwing.sqlite"), conversation)) {
        std::printf("could not prepare the stores\n");
        return 1;
    }
    std::printf("Start-up, offscreen, median of %d runs each (exec to first frameSwapped; VmHWM)\n", runs);
    std::printf("  stored conversation: %lld messages, %lld characters, file %.2f MB\n",
                qlonglong(conversation.contents.size()), qlonglong(characterCount(conversation)),
                double(QFileInfo(fullHome + QStringLiteral("/Hushwing/Hushwing.sqlite")).size()) / 1e6);

    struct Variant { const char *name; QString program; QString home; std::vector<double> ms, mb, main, loaded; };
    std::vector<Variant> variants = {{"baseline (minimal Qt Quick window)", baselineProbe, emptyHome, {}, {}, {}, {}},
                                     {"floor: Qt Quick Controls window", controlsProbe, emptyHome, {}, {}, {}, {}},
                                     {"Hushwing, empty store", appProbe, emptyHome, {}, {}, {}, {}},
                                     {"Hushwing, 2,000 stored messages", appProbe, fullHome, {}, {}, {}, {}}};
    for (Variant &v : variants)
        launch(v.program, v.home, runtimeDir);  // warm the file cache; not counted
    for (int i = 0; i < runs; ++i) {
        for (Variant &v : variants) {
            const Launch l = launch(v.program, v.home, runtimeDir);
            if (l.firstFrameMs < 0 || l.peakRssMb < 0) {
                std::printf("  %s: no first frame reported\n", v.name);
                return 1;
            }
            v.ms.push_back(l.firstFrameMs);
            v.mb.push_back(l.peakRssMb);
            v.main.push_back(l.mainMs);
            v.loaded.push_back(l.loadedMs);
        }
    }
    for (const Variant &v : variants)
        std::printf("  %-36s first frame %7.1f ms (min %6.1f, max %6.1f)  peak RSS %6.1f MB\n", v.name,
                    median(v.ms), *std::min_element(v.ms.begin(), v.ms.end()), maximum(v.ms), median(v.mb));
    for (const Variant &v : variants)
        std::printf("  %-36s exec->main() %6.1f ms, main()->window created %6.1f ms, ->first frame %6.1f ms\n",
                    v.name, median(v.main), median(v.loaded) - median(v.main), median(v.ms) - median(v.loaded));
    bool met = true;
    const double baseMs = median(variants[0].ms), baseMb = median(variants[0].mb);
    // The toolkit alone: an ApplicationWindow with one Label, no program code.
    std::printf("  floor: a Qt Quick Controls window alone is %.2f x the baseline's first frame, %.2f x its RSS\n",
                median(variants[1].ms) / baseMs, median(variants[1].mb) / baseMb);
    met &= target("first frame, empty store / baseline", median(variants[2].ms) / baseMs, "<=", 1.5, "x");
    met &= target("first frame, 2,000 messages / baseline", median(variants[3].ms) / baseMs, "<=", 1.5, "x");
    met &= target("peak RSS, empty store / baseline", median(variants[2].mb) / baseMb, "<=", 1.5, "x");
    met &= target("peak RSS, 2,000 messages / baseline", median(variants[3].mb) / baseMb, "<=", 1.5, "x");
    met &= longReplyFirstFrames(appProbe, root.path(), runtimeDir, runs);
    met &= measureLongConversations(appProbe, root.path(), runtimeDir, runs);
    return 0;  // figures, not a test: a missed target is printed, not failed
}
