// The on-device model in the real window (offscreen), against llama.cpp's own
// generation loop on the same model file in the same run. The model is a
// random-weight llama model of about 124M parameters (768 wide, 8 layers,
// F16, 250 MB) made by hushwing-testmodel; random weights never end a reply,
// so every reply runs until the context (512 tokens) is full.
//
//   speed        tokens per second of a reply shown in the window, against
//                probe_llama_baseline at the same thread count (>= 0.9x), and
//                against it on every core
//   first words  from send() to the first text in the window, against the
//                baseline's evaluation of the same prompt plus its first token
//                (<= 1.2x); the helper is warm (the model loaded), as from the
//                second message on
//   stalls       the longest gap between two ticks of a 1 ms timer on the GUI
//                thread while the model generates (<= 16 ms)
//   memory       the helper's peak RSS against the model file plus its KV cache
#include "AppConfig.h"
#include "BenchCommon.h"
#include "ChatViewModel.h"
#include "HushwingApp.h"
#include "LlamaEngine.h"
#include "ModelFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace {

constexpr int kContext = 512;
const QString kPrompt = QStringLiteral("Tell me, in a few paragraphs, how a river shapes the land it runs through.");

QString program(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/hushwing/") + name;
}

QJsonObject baseline(const QString &model, int threads, int tokens)
{
    QProcess probe;
    probe.start(program(QStringLiteral("probe_llama_baseline")),
                {model, QString::number(threads), QString::number(kContext), QString::number(tokens),
                 AppConfig::defaultSystemPrompt(), kPrompt});
    probe.waitForFinished(600000);
    return QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
}

qint64 peakRssKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

struct Run
{
    double firstWordsMs = -1;
    double tokensPerSecond = -1;
    double longestGapMs = -1;
    int tokens = 0;
    qint64 helperPeakKb = -1;
};

// One reply, sent as the user sends it, after a new chat (a fresh session:
// the whole prompt is evaluated).
Run reply(ChatViewModel *vm, LlamaEngine &engine)
{
    vm->newChat();
    Run run;
    QElapsedTimer clock;
    qint64 firstShownNs = 0, lastShownNs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    qint64 lastTickNs = 0;
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTickNs && firstShownNs)
            longest = std::max(longest, (now - lastTickNs) / 1e6);
        lastTickNs = now;
    });
    auto *model = vm->messageModel();
    auto rowChanged = QObject::connect(model, &QAbstractItemModel::dataChanged, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (!firstShownNs)
            firstShownNs = now;
        lastShownNs = now;
    });
    clock.start();
    tick.start();
    vm->setDraft(kPrompt);
    vm->send();
    waitFor([&] { return !vm->isGenerating(); }, 600000);
    tick.stop();
    QObject::disconnect(rowChanged);
    const auto stats = engine.lastReply();
    run.tokens = stats.generatedTokens;
    run.firstWordsMs = firstShownNs / 1e6;
    if (lastShownNs > firstShownNs && stats.generatedTokens > 1)
        run.tokensPerSecond = (stats.generatedTokens - 1) / ((lastShownNs - firstShownNs) / 1e9);
    run.longestGapMs = longest;
    run.helperPeakKb = peakRssKb(engine.helperProcessId());
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    HushwingApp::describeApplication();
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    QDir().mkpath(ModelFolder::path());
    const QString model = QDir(ModelFolder::path()).filePath(QStringLiteral("bench.gguf"));
    std::printf("On-device model: making a random 768-wide, 8-layer F16 model...\n");
    std::fflush(stdout);
    QProcess maker;
    maker.start(program(QStringLiteral("hushwing-testmodel")),
                {QStringLiteral(HUSHWING_TEST_VOCAB), model, QStringLiteral("--width"), QStringLiteral("768"),
                 QStringLiteral("--layers"), QStringLiteral("8"), QStringLiteral("--f16")});
    if (!maker.waitForFinished(600000) || maker.exitCode() != 0) {
        std::printf("could not make the model\n");
        return 1;
    }
    const double fileMb = QFileInfo(model).size() / 1048576.0;
    // K and V, F16, per layer and position: 2 x 8 layers x 768 x 2 bytes.
    const double kvMb = 2.0 * 8 * 768 * 2 * kContext / 1048576.0;

    auto engine = std::dynamic_pointer_cast<LlamaEngine>(SystemLanguageModel::defaultModel().engine());
    engine->setContextLength(kContext);
    HushwingApp hushwing(dir.filePath(QStringLiteral("Hushwing.sqlite")), OllamaServer{});
    QQuickWindow *window = hushwing.window();
    ChatViewModel *vm = hushwing.viewModel();
    if (!window || !waitFor([&] { return !vm->isRestoring(); }, 10000)) {
        std::printf("the window did not come up\n");
        return 1;
    }
    const int cores = QThread::idealThreadCount();
    const int threads = LlamaEngine::defaultThreadCount();
    std::printf("Model file %.0f MB, KV cache %.1f MB; %d cores, the engine uses %d thread(s). Timings are noisy on a "
                "shared machine.\n", fileMb, kvMb, cores, threads);

    reply(vm, *engine);  // loads the model: later replies find the helper warm
    const Run ours = reply(vm, *engine);
    const QJsonObject same = baseline(model, threads, ours.tokens);
    const QJsonObject all = baseline(model, cores, ours.tokens);
    std::printf("  window: first words %.0f ms, %d tokens at %.2f tokens/s, longest GUI gap %.1f ms\n",
                ours.firstWordsMs, ours.tokens, ours.tokensPerSecond, ours.longestGapMs);
    std::printf("  llama.cpp, %d thread(s): prompt of %d tokens %.0f ms, first token %.0f ms, %.2f tokens/s\n", threads,
                same.value("promptTokens").toInt(), same.value("promptMs").toDouble(),
                same.value("firstTokenMs").toDouble(), same.value("tokensPerSecond").toDouble());
    std::printf("  llama.cpp, %d threads: %.2f tokens/s\n", cores, all.value("tokensPerSecond").toDouble());
    if (cores > threads) {
        engine->setThreadCount(cores);  // a new helper with the new count
        reply(vm, *engine);
        const Run every = reply(vm, *engine);
        std::printf("  window with the engine on all %d cores: %.2f tokens/s, longest GUI gap %.1f ms\n", cores,
                    every.tokensPerSecond, every.longestGapMs);
        engine->setThreadCount(threads);
    }

    bool met = true;
    met &= target("speed: window / llama.cpp at the same threads", ours.tokensPerSecond / same.value("tokensPerSecond").toDouble(), ">=", 0.9, "x");
    target("speed: window / llama.cpp on every core (information)", ours.tokensPerSecond / all.value("tokensPerSecond").toDouble(), ">=", 0.0, "x");
    met &= target("first words: window / llama.cpp's prompt and first token", ours.firstWordsMs / same.value("firstTokenMs").toDouble(), "<=", 1.2, "x");
    met &= target("stalls: longest GUI-thread gap while generating", ours.longestGapMs, "<=", 16, "ms");
    met &= target("memory: helper peak RSS / (model file + KV cache)", ours.helperPeakKb / 1024.0 / (fileMb + kvMb), "<=", 1.5, "x");
    return met ? 0 : 1;
}
