// How long a bubble takes to turn a streamed reply into styled runs (parsing
// the Markdown included). A reply is presented again as it streams, so a
// 20,000-character reply has to stay far below one frame (16 ms). Figures are
// medians, and ratios against QString::toHtmlEscaped of the same text (one
// pass over every character, as any presentation must make), measured in the
// same run.

#include "MessageRuns.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QString chatReply(qsizetype length)
{
    const QString paragraph = QStringLiteral(
        "Here is **a summary** of the change, with `code_spans()` and *emphasis*.\n"
        "1. Open [the guide](https://docs.example/guide \"Guide\") and read it.\n"
        "2. Compute 2 * 3 * 7 = 42; see [1] and snake_case_names.\n"
        "   Indented line  with  double  spaces & an <tag> in it.\n\n");
    QString text;
    while (text.size() < length)
        text += paragraph;
    text.truncate(length);
    return text;
}

struct Figures { double median, best; };

Figures measure(const std::function<void()> &work, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.front()};
}

volatile qsizetype sink = 0;

void row(const char *name, const QString &text, int runs)
{
    const Figures baseline = measure([&] { sink = sink + text.toHtmlEscaped().size(); }, runs);
    const Figures ours = measure(
        [&] { sink = sink + MessageRuns::present(text, QStringLiteral("assistant")).runs.size(); }, runs);
    std::printf("%-32s %6lld chars  render median %7.1f us (best %7.1f)  baseline median %6.1f us (best %6.1f)"
                "  ratio %5.1fx (best %5.1fx)  %5.2f%% of a 16 ms frame\n",
                name, (long long)text.size(), ours.median, ours.best, baseline.median, baseline.best,
                ours.median / baseline.median, ours.best / baseline.best, ours.median / 160.0);
}

// A reply streamed in elements of `elementSize` characters, presented after
// each as a bubble does (one presenter, which parses only what follows the
// settled text), against presenting each text afresh.
void streamed(const QString &reply, qsizetype elementSize)
{
    const auto run = [&](const std::function<size_t(qsizetype, qsizetype)> &present, double &longestUs) {
        QElapsedTimer timer, one;
        timer.start();
        for (qsizetype n = elementSize; n <= reply.size(); n += elementSize) {
            one.start();
            sink = sink + present(n - elementSize, n);
            longestUs = std::max(longestUs, double(one.nsecsElapsed()) / 1000.0);
        }
        return double(timer.nsecsElapsed()) / 1e6;
    };
    MessagePresenter presenter(true);
    double longestGrown = 0, longestAfresh = 0;
    const double grownMs = run([&](qsizetype from, qsizetype to) {
        presenter.append(QStringView(reply).sliced(from, to - from));
        presenter.present();
        return presenter.runs().size();
    },
                               longestGrown);
    const double afreshMs = run([&](qsizetype, qsizetype to) {
        return MessageRuns::present(reply.left(to), QStringLiteral("assistant")).runs.size();
    },
                                longestAfresh);
    std::printf("streamed %lld chars in %lld-char elements: %.1f ms (longest %.0f us), afresh %.1f ms (longest %.0f us),"
                " ratio %.2fx\n",
                (long long)reply.size(), (long long)elementSize, grownMs, longestGrown, afreshMs, longestAfresh,
                grownMs / afreshMs);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const int runs = 51;

    row("chat reply", chatReply(20000), runs);
    row("chat reply, 2,000", chatReply(2000), runs);
    row("chat reply, 190,000", chatReply(190000), 11);
    row("unclosed markers (**x repeated)", QString("**x ").repeated(5000), runs);
    row("brackets only", QString("[").repeated(20000), runs);
    row("unmatched backtick runs", QString("`a ``b ```c ").repeated(1700), runs);
    row("underscores in words", QString("snake_case_name ").repeated(1250), runs);

    // A whole streamed reply: every element presents the text so far again.
    streamed(chatReply(20000), 20);
    streamed(chatReply(190000), 1000);

    return 0;
}
