#pragma once

// Shared by the benchmark programs: medians, target lines, the stored
// conversation they start from, and the watch on the GUI thread's stalls.
#include "LocalHttpServer.h"  // monotonicNs()
#include "SampleText.h"
#include "SessionStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QMetaEnum>
#include <QPointer>
#include <QQuickWindow>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <time.h>
#include <vector>

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The value below which the share `fraction` (0 to 1) of the values lie; -1
// when there are none.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

inline double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// Prints one target line and returns whether it was met.
inline bool target(const char *what, double value, const char *relation, double limit, const char *unit)
{
    // A figure that could not be measured (negative) never meets a target.
    const bool met = value >= 0 && (relation[0] == '<' ? value <= limit : value >= limit);
    std::printf("  %-58s %9.2f %s (target %s %.2f %s)  %s\n", what, value, unit, relation, limit, unit,
                met ? "MET" : "MISSED");
    return met;
}

// A conversation of `count` messages, alternating user and assistant, of about
// `totalChars` characters; assistant turns are long and carry inline Markdown.
struct Conversation
{
    QStringList roles;
    QStringList contents;
};

// Short questions and long replies, as in a real conversation: `count`
// messages of about `replyChars` characters for every reply.
inline Conversation questionsAndReplies(int count, qsizetype replyChars)
{
    Conversation c;
    const QString reply = sampleReply(replyChars * 4);
    for (int i = 0; i < count; ++i) {
        const bool user = i % 2 == 0;
        const qsizetype offset = (i * 37) % (reply.size() - replyChars);
        c.roles << (user ? QStringLiteral("user") : QStringLiteral("assistant"));
        c.contents << (user ? QStringLiteral("Question %1: what does this part mean?").arg(i)
                            : reply.mid(offset, replyChars));
    }
    return c;
}

inline QList<ChatMessage> messagesOf(const Conversation &conversation)
{
    QList<ChatMessage> messages;
    messages.reserve(conversation.roles.size());
    for (qsizetype i = 0; i < conversation.roles.size(); ++i)
        messages.append(ChatMessage(conversation.roles.at(i) == QLatin1String("user") ? ChatMessage::Role::user
                                                                                        : ChatMessage::Role::assistant,
                                    conversation.contents.at(i)));
    return messages;
}

inline Conversation sampleConversation(int count, qsizetype totalChars)
{
    Conversation c;
    const qsizetype average = totalChars / std::max(1, count);
    const QString reply = sampleReply(average * 4);
    for (int i = 0; i < count; ++i) {
        const bool user = i % 2 == 0;
        const qsizetype length = user ? average / 3 : average * 5 / 3;
        const qsizetype offset = (i * 37) % (reply.size() - length);
        c.roles << (user ? QStringLiteral("user") : QStringLiteral("assistant"));
        c.contents << (user ? QStringLiteral("Question %1: ").arg(i) + reply.mid(offset, length - 14)
                            : reply.mid(offset, length));
    }
    return c;
}

// A question and one long reply of `length` characters: short lines (about 58
// characters each, as a model writes a list or code), or, with `oneParagraph`,
// the same text with no line break at all.
inline Conversation longReplyConversation(qsizetype length, bool oneParagraph)
{
    QString reply = sampleReply(length);
    if (oneParagraph)
        reply.replace(u'\n', u' ');
    return {{QStringLiteral("user"), QStringLiteral("assistant")}, {QStringLiteral("Write it all out, please."), reply}};
}

// The conversation the long ones are measured against: a question and a short reply.
inline Conversation twoMessageConversation()
{
    return {{QStringLiteral("user"), QStringLiteral("assistant")},
            {QStringLiteral("Summarise this, please."), sampleReply(600)}};
}

// Runs the event loop until the store has been opened.
inline void waitOpen(SessionStore &store)
{
    QEventLoop loop;
    QObject::connect(&store, &SessionStore::opened, &loop, &QEventLoop::quit);
    if (!store.isOpen())
        loop.exec();
}

// How many records the store file at `path`, closed, holds; -1 when it cannot
// be read. Read as it stands, so that nothing is left beside it.
inline int storedRecordCount(const QString &path)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-reader"));
        db.setDatabaseName(QUrl::fromLocalFile(path).toString() + QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT count(*) FROM ChatSession")) && query.next())
                count = query.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-reader"));
    return count;
}

// A store file at `path` holding one record with `conversation` (empty lists
// for an empty store), written with the store's own code.
inline bool writeStore(const QString &path, const Conversation &conversation)
{
    {
        SessionStore store(path);
        waitOpen(store);
        const auto records = store.takeRecords();
        if (!records || !records->isEmpty())
            return false;  // not a new store of ours
        ChatSession record = store.newRecord();
        record.messages = messagesOf(conversation);
        store.save(record);
    }  // closing the store writes what was asked of it
    return storedRecordCount(path) == 1;
}

inline qsizetype characterCount(const Conversation &conversation)
{
    qsizetype total = 0;
    for (const QString &s : conversation.contents)
        total += s.size();
    return total;
}

// Runs the event loop as the program does: the GUI thread sleeps until an
// event arrives (a spinning wait would take a core from the network threads).
inline bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1000000;
    QTimer wake;  // looks at the condition at least every 5 ms
    wake.start(5);
    while (!condition()) {
        if (monotonicNs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A 1 ms timer on the GUI thread: the longest gap between two of its ticks is
// the longest the thread was kept from its events. The thread's own time on
// the CPU and waiting for one (from its schedstat) tell work on the thread
// from a machine too busy to run it.
class TickWatch
{
public:
    double longestGapMs = 0;
    qint64 longestGapEndNs = 0;
    double gapOnCpuMs = 0, gapWaitingMs = 0;  // the GUI thread during the longest gap
    double longestWorkMs = 0;  // the most the GUI thread ran between two ticks
    int workOver16 = 0, ticks = 0;
    std::function<void()> onLongestGap, onTick;

    TickWatch()
    {
        m_schedstat.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
    }
    // The first interval runs from here: work done before the first tick
    // (the call that starts what is measured) counts.
    void start()
    {
        m_lastTick = monotonicNs();
        m_lastSched = onAndWaitingNs();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }

private:
    std::pair<qint64, qint64> onAndWaitingNs()
    {
        m_schedstat.seek(0);
        const QList<QByteArray> fields = m_schedstat.read(128).split(' ');
        return {fields.value(0).toLongLong(), fields.value(1).toLongLong()};
    }
    void tick()
    {
        const qint64 now = monotonicNs();
        const auto sched = onAndWaitingNs();
        if (m_lastTick) {
            if (double(now - m_lastTick) / 1e6 > longestGapMs) {
                longestGapMs = double(now - m_lastTick) / 1e6;
                longestGapEndNs = now;
                gapOnCpuMs = double(sched.first - m_lastSched.first) / 1e6;
                gapWaitingMs = double(sched.second - m_lastSched.second) / 1e6;
                if (onLongestGap)
                    onLongestGap();
            }
            const double workMs = double(sched.first - m_lastSched.first) / 1e6;
            longestWorkMs = std::max(longestWorkMs, workMs);
            workOver16 += workMs > 16;
            ++ticks;
        }
        m_lastTick = now;
        m_lastSched = sched;
        if (onTick)
            onTick();
    }

    QFile m_schedstat{QStringLiteral("/proc/thread-self/schedstat")};
    QTimer m_timer;
    qint64 m_lastTick = 0;
    std::pair<qint64, qint64> m_lastSched{0, 0};
};

// Where the GUI thread's time goes between two ticks of the 1 ms timer: a
// mark (wall clock and the thread's own CPU clock) as each event is handed to
// its receiver, at each step of a frame and at each tick. The time from one
// mark to the next belongs to the first. After a run, each interval between
// ticks in which the thread ran over 16 ms is printed with its longest parts,
// to tell one slow step of our own from a machine that took the CPU away
// (every part of the interval stretched alike, or a part that is cheap in
// every other frame).
class WorkTimeline : public QObject
{
public:
    struct Mark
    {
        qint64 wallNs, cpuNs;
        const char *what;  // a step's name, or the receiver's class for an event
        int event;  // the event's type, or 0 for a step
    };

    explicit WorkTimeline(QQuickWindow *window) : m_window(window)
    {
        m_marks.reserve(4000000);
        qApp->installEventFilter(this);
        if (!window)
            return;
        const auto step = [this, window](auto signal, const char *what) {
            connect(window, signal, this, [this, what] { mark(what); }, Qt::DirectConnection);
        };
        step(&QQuickWindow::afterAnimating, "frame: after animating (then polish)");
        step(&QQuickWindow::beforeFrameBegin, "frame: begin");
        step(&QQuickWindow::beforeSynchronizing, "frame: synchronize");
        step(&QQuickWindow::afterSynchronizing, "frame: after synchronizing");
        step(&QQuickWindow::beforeRendering, "frame: render");
        step(&QQuickWindow::afterRendering, "frame: after rendering");
        step(&QQuickWindow::frameSwapped, "frame: swapped");
        step(&QQuickWindow::afterFrameEnd, "frame: ended");
    }
    ~WorkTimeline() override { stop(); }
    void stop()
    {
        qApp->removeEventFilter(this);
        if (m_window)
            m_window->disconnect(this);
    }

    void mark(const char *what, int event = 0)
    {
        if (QThread::currentThread() != thread() || m_marks.size() == m_marks.capacity())
            return;
        timespec cpu;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        m_marks.push_back({monotonicNs(), qint64(cpu.tv_sec) * 1000000000 + cpu.tv_nsec, what, event});
    }

    // Each interval between ticks with over `limitMs` of CPU (`atMost` of
    // them), its parts over 0.5 ms, longest first (`partsAtMost` of them); and,
    // for comparison, the median, 99th percentile and longest of the same kind
    // of part over the whole run.
    void printSlowIntervals(double limitMs, int atMost = 8, int partsAtMost = 1000000) const
    {
        std::map<QByteArray, std::vector<double>> typical;
        struct Interval
        {
            size_t from, to;
            double cpuMs, wallMs;
        };
        std::vector<Interval> slow;
        size_t lastTick = SIZE_MAX;
        for (size_t i = 0; i + 1 < m_marks.size(); ++i) {
            typical[label(m_marks[i])].push_back(double(m_marks[i + 1].cpuNs - m_marks[i].cpuNs) / 1e6);
            if (m_marks[i].what != tickLabel)
                continue;
            if (lastTick != SIZE_MAX) {
                const double cpuMs = double(m_marks[i].cpuNs - m_marks[lastTick].cpuNs) / 1e6;
                if (cpuMs > limitMs)
                    slow.push_back({lastTick, i, cpuMs, double(m_marks[i].wallNs - m_marks[lastTick].wallNs) / 1e6});
            }
            lastTick = i;
        }
        std::sort(slow.begin(), slow.end(), [](const Interval &a, const Interval &b) { return a.cpuMs > b.cpuMs; });
        std::printf("  intervals between ticks with over %.0f ms of GUI-thread CPU: %zu (%zu marks)\n", limitMs,
                    slow.size(), m_marks.size());
        for (size_t n = 0; n < slow.size() && int(n) < atMost; ++n) {
            const Interval &in = slow[n];
            std::printf("   %.1f ms CPU in %.1f ms, at %.0f ms:\n", in.cpuMs, in.wallMs,
                        double(m_marks[in.from].wallNs - m_marks.front().wallNs) / 1e6);
            std::vector<std::pair<double, size_t>> parts;
            for (size_t i = in.from; i < in.to; ++i)
                parts.push_back({double(m_marks[i + 1].cpuNs - m_marks[i].cpuNs) / 1e6, i});
            std::sort(parts.begin(), parts.end(), std::greater<>());
            for (size_t part = 0; part < parts.size() && int(part) < partsAtMost; ++part) {
                const auto &[ms, i] = parts[part];
                if (ms < 0.5)
                    break;
                const QByteArray what = label(m_marks[i]);
                const std::vector<double> &all = typical.at(what);
                std::printf("     %6.1f ms (wall %6.1f) %s; over the run %zu times: median %.2f ms, 99th percentile"
                            " %.2f ms, longest %.1f ms\n", ms, double(m_marks[i + 1].wallNs - m_marks[i].wallNs) / 1e6,
                            what.constData(), all.size(), median(all), percentile(all, 0.99), maximum(all));
            }
        }
    }

    static constexpr const char *tickLabel = "tick";

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        mark(receiver->metaObject()->className(), int(event->type()));
        return false;
    }

private:
    static QByteArray label(const Mark &m)
    {
        if (!m.event)
            return m.what;
        static const QMetaEnum types = QMetaEnum::fromType<QEvent::Type>();
        const char *name = types.valueToKey(m.event);
        return QByteArray(name ? name : QByteArray::number(m.event).constData()) + " to " + m.what;
    }

    QPointer<QQuickWindow> m_window;
    std::vector<Mark> m_marks;
};

// What this machine does to the 1 ms timer of a GUI thread with nothing of
// ours to do: for `durationMs`, each tick only spins the CPU for as long as
// makes the thread busy `busyShare` of the time (the share a run measured).
// A virtual machine may keep a thread from running for over 16 ms whatever it
// does; a run's stalls are judged against this, measured in the same run.
struct Baseline
{
    double longestGapMs = 0;
    double longestWorkMs = 0;
};

inline Baseline machineBaseline(double durationMs, double busyShare)
{
    const double share = std::clamp(busyShare, 0.0, 0.9);
    const qint64 spinNs = qint64(1e6 * share / (1 - share));
    TickWatch watch;
    watch.onTick = [spinNs] {
        const qint64 until = monotonicNs() + spinNs;
        while (monotonicNs() < until) {
        }
    };
    watch.start();
    waitFor([] { return false; }, int(durationMs));
    watch.stop();
    return {watch.longestGapMs, watch.longestWorkMs};
}

// A run's longest stall and longest work between ticks, with their limits:
// the 16 ms of a frame, or what the machine does to a GUI thread as busy with
// nothing of ours for as long (measured right after the run, and printed)
// where that is longer.
struct StallVerdict
{
    double stallMs = 0, stallLimitMs = 16;
    double workMs = 0, workLimitMs = 16;
};

// A run of `durationMs` whose GUI thread was busy `busyShare` of the time.
inline StallVerdict judgeStalls(double stallMs, double workMs, double durationMs, double busyShare)
{
    const Baseline machine = machineBaseline(durationMs, busyShare);
    std::printf("  the machine alone for %.1f s, the GUI thread %.0f %% busy spinning: longest gap between ticks"
                " %.1f ms, longest time on the CPU between ticks %.1f ms\n",
                durationMs / 1000, busyShare * 100, machine.longestGapMs, machine.longestWorkMs);
    return {stallMs, std::max(16.0, machine.longestGapMs), workMs, std::max(16.0, machine.longestWorkMs)};
}

inline void stallTargets(const QByteArray &run, const StallVerdict &v)
{
    target((run + ": longest GUI-thread stall (16 ms or the machine's)").constData(), v.stallMs, "<=",
           v.stallLimitMs, "ms");
    target((run + ": longest GUI-thread work between ticks (likewise)").constData(), v.workMs, "<=", v.workLimitMs,
           "ms");
}
