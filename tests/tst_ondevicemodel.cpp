#include "AppleIntelligenceBackend.h"
#include "LlamaEngine.h"
#include "ModelFolder.h"
#include "ReplyCollector.h"
#include "TestModels.h"
#include "Utf8Pieces.h"

#include <QDir>
#include <QFile>
#include <QNetworkInterface>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sched.h>
#include <unistd.h>

namespace {

const QString kInstructions = QStringLiteral("You answer in one short paragraph. ").repeated(12);

// The engine the default model runs in this build.
LlamaEngine &engine()
{
    return *std::dynamic_pointer_cast<LlamaEngine>(SystemLanguageModel::defaultModel().engine());
}

QStringList pieces(const QByteArray &bytes, qsizetype cut)
{
    Utf8Pieces utf8;
    return {QString::fromStdString(utf8.take(bytes.left(cut).toStdString())),
            QString::fromStdString(utf8.take(bytes.mid(cut).toStdString()))};
}

} // namespace

// The on-device model for real: the hushwing-engine helper running llama.cpp
// on random-weight models the test makes, in a Models folder of its own,
// through the backend the window uses. Random weights seldom end a reply, so
// a reply runs until it is stopped or fills the (small) context.
class TestOnDeviceModel : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;
    QString m_tiny;

    QString models() const { return ModelFolder::path(); }

    void placeOnly(const QString &name, const QByteArray &bytes)
    {
        clearModels();
        QFile file(QDir(models()).filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    void clearModels()
    {
        QDir(models()).removeRecursively();
        QVERIFY(QDir().mkpath(models()));
    }

    void linkTiny(const QString &name = QStringLiteral("tiny.gguf"))
    {
        QVERIFY(QFile::link(m_tiny, QDir(models()).filePath(name)));
    }

    QByteArray tinyBytes() const
    {
        QFile file(m_tiny);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Starts a reply and stops it once its first text has come.
    CollectedReply replyStoppedEarly(AppleIntelligenceBackend &backend, const QString &prompt,
                                     const QString &systemPrompt)
    {
        auto stream = backend.streamResponse(prompt, {}, systemPrompt);
        QObject::connect(stream.get(), &ReplyStream::appended, stream.get(), [s = stream.get()] { s->cancel(); });
        const CollectedReply got = collectReply(stream.get(), 30000);
        [] { QTRY_VERIFY_WITH_TIMEOUT(!engine().isReplying(), 30000); }();
        return got;
    }

private slots:
    void initTestCase()
    {
        if (!TestModels::available())
            QSKIP("This build has no on-device engine (run make configure to fetch llama.cpp)");
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        m_tiny = TestModels::tiny();
        QVERIFY(!m_tiny.isEmpty());
    }

    void init()
    {
        SystemLanguageModel::restoreDefaultEngine();
        engine().setContextLength(512);
        engine().setThreadCount(1);
        engine().setSeed(7);  // repeatable replies, none cut short by an end token
        clearModels();
        linkTiny();
    }

    // Each snapshot of a reply extends the one before; a character split
    // across tokens is held back until it is whole, and bytes that can never
    // form one become U+FFFD.
    void snapshotsGrowAndAreValidText()
    {
        const QByteArray text = QStringLiteral("a\u00E9\u20AC\U0001F600").toUtf8();
        for (qsizetype cut = 0; cut <= text.size(); ++cut)
            QCOMPARE(pieces(text, cut).join(QString()), QString::fromUtf8(text));
        QCOMPARE(pieces("\xF0\x9F", 1), (QStringList{QString(), QString()}));  // still incomplete
        QCOMPARE(pieces("\xFF" "a\xC3(", 3).join(QString()), QStringLiteral("\uFFFDa\uFFFD("));

        engine().setContextLength(256);
        AppleIntelligenceBackend backend;
        const CollectedReply got = collectReply(backend.streamResponse(QStringLiteral("Hello"), {}, QString()).get(), 30000);
        QVERIFY(got.finished);
        QVERIFY(!got.elements.isEmpty());
        for (qsizetype i = 1; i < got.elements.size(); ++i)
            QVERIFY(got.elements[i].startsWith(got.elements[i - 1]));
        QCOMPARE(engine().lastReply().end, QStringLiteral("contextFull"));
    }

    // The cache keeps the transcript: a second turn evaluates only its own
    // tokens, and its system prompt is not taken; reset() starts afresh.
    // Stop ends a reply between two tokens and keeps the helper and its cache.
    void sessionLivesInTheCacheUntilReset()
    {
        AppleIntelligenceBackend backend;
        const CollectedReply first = replyStoppedEarly(backend, QStringLiteral("Hello"), kInstructions);
        QVERIFY(first.finished);
        QVERIFY(!first.elements.isEmpty());
        const auto one = engine().lastReply();
        QCOMPARE(one.end, QStringLiteral("stopped"));
        const qint64 helper = engine().helperProcessId();

        const QString otherInstructions = QStringLiteral("Ignore all that. ").repeated(40);
        const CollectedReply second = replyStoppedEarly(backend, QStringLiteral("Again"), otherInstructions);
        QVERIFY(second.finished);
        const auto two = engine().lastReply();
        QCOMPARE(engine().helperProcessId(), helper);
        QVERIFY2(two.promptTokens < one.promptTokens / 2,
                 qPrintable(QStringLiteral("%1 then %2 tokens").arg(one.promptTokens).arg(two.promptTokens)));
        QCOMPARE(two.contextUsed, one.contextUsed + two.promptTokens + two.generatedTokens);

        backend.reset();
        replyStoppedEarly(backend, QStringLiteral("Again"), otherInstructions);
        const auto fresh = engine().lastReply();
        QCOMPARE(fresh.contextUsed, fresh.promptTokens + fresh.generatedTokens);
        QVERIFY(fresh.promptTokens > one.promptTokens);  // the longer instructions, now taken
    }

    // A reply that fills the context ends there with its text; the turn after
    // it no longer fits and fails with a sentence; after reset() all is well.
    void fullContextBothWays()
    {
        engine().setContextLength(256);
        AppleIntelligenceBackend backend;
        const CollectedReply filled = collectReply(backend.streamResponse(QStringLiteral("Hi"), {}, QString()).get(), 30000);
        QVERIFY(filled.finished);
        QVERIFY(!filled.elements.isEmpty());
        QCOMPARE(engine().lastReply().contextUsed, 256);

        const CollectedReply refused = collectReply(backend.streamResponse(QStringLiteral("More"), {}, QString()).get(), 30000);
        QVERIFY(refused.error);
        QCOMPARE(refused.error->description,
                 QStringLiteral("The conversation no longer fits in the model\u2019s context (256 tokens). "
                                "Your next message starts a new conversation with the model."));
        backend.reset();
        QVERIFY(collectReply(backend.streamResponse(QStringLiteral("More"), {}, QString()).get(), 30000).finished);
    }

    // No usable file: unavailable with modelNotReady. Damaged or foreign files
    // fail the send with a sentence naming the file; a good file placed,
    // replaced or removed while the program runs counts at the next send.
    void filesComeAndGoWhileTheProgramRuns_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("sentence");
        const QByteArray tiny = tinyBytes();
        QTest::newRow("empty") << QByteArray() << QStringLiteral("is empty.");
        QTest::newRow("random bytes") << QByteArray(4096, '\x5A') << QStringLiteral("is not a GGUF model file.");
        QTest::newRow("truncated") << tiny.left(tiny.size() * 2 / 3) << QStringLiteral("is incomplete");
        QTest::newRow("cut in its header") << tiny.left(200000) << QStringLiteral("is incomplete");
        QFile foreign(TestModels::foreignArchitecture());
        QVERIFY(foreign.open(QIODevice::ReadOnly));
        QTest::newRow("unknown architecture") << foreign.readAll() << QStringLiteral("unknown model architecture");
    }

    void filesComeAndGoWhileTheProgramRuns()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, sentence);
        AppleIntelligenceBackend backend;
        clearModels();
        QCOMPARE(backend.unavailableText(), QStringLiteral("modelNotReady"));

        placeOnly(QStringLiteral("broken.gguf"), bytes);
        QVERIFY(backend.isAvailable());
        const CollectedReply refused = collectReply(backend.streamResponse(QStringLiteral("Hi"), {}, QString()).get(), 30000);
        QVERIFY(refused.error);
        QVERIFY2(refused.error->description.startsWith(QStringLiteral("The model file \u201Cbroken.gguf\u201D")),
                 qPrintable(refused.error->description));
        QVERIFY2(refused.error->description.contains(sentence), qPrintable(refused.error->description));

        // Replaced by a good file: the next send works.
        QVERIFY(QFile::remove(QDir(models()).filePath(QStringLiteral("broken.gguf"))));
        linkTiny(QStringLiteral("good.gguf"));
        QVERIFY(replyStoppedEarly(backend, QStringLiteral("Hi"), QString()).finished);
    }

    // Too large for this computer's memory: refused before loading.
    void aFileLargerThanMemoryIsRefused()
    {
        const QByteArray head = tinyBytes();
        clearModels();
        QFile file(QDir(models()).filePath(QStringLiteral("huge.gguf")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(head);
        QVERIFY(file.resize(qint64(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGE_SIZE) + (qint64(1) << 30)));  // sparse
        file.close();
        AppleIntelligenceBackend backend;
        const CollectedReply got = collectReply(backend.streamResponse(QStringLiteral("Hi"), {}, QString()).get(), 30000);
        QVERIFY(got.error);
        QVERIFY2(got.error->description.contains(QStringLiteral("is larger than this computer\u2019s memory")),
                 qPrintable(got.error->description));
    }

    // The helper ends in the middle of a reply (as llama.cpp's own aborts or
    // the out-of-memory killer end it): the reply fails with a sentence, the
    // next one starts a new helper.
    void aHelperThatDiesFailsOnlyItsReply()
    {
        engine().setContextLength(4096);
        AppleIntelligenceBackend backend;
        auto stream = backend.streamResponse(QStringLiteral("Hi"), {}, QString());
        QObject::connect(stream.get(), &ReplyStream::appended, stream.get(),
                         [] { ::kill(pid_t(engine().helperProcessId()), SIGKILL); }, Qt::SingleShotConnection);
        const CollectedReply got = collectReply(stream.get(), 30000);
        QVERIFY(got.error);
        QCOMPARE(got.error->description,
                 QStringLiteral("The on-device engine was stopped by the system (as happens when memory runs out) "
                                "while running the model file \u201Ctiny.gguf\u201D. The file may be damaged, or too "
                                "large for this computer."));
        backend.reset();
        engine().setContextLength(256);
        QVERIFY(collectReply(backend.streamResponse(QStringLiteral("Hi"), {}, QString()).get(), 30000).finished);
    }

    // Last: this process leaves the network for good. The on-device path
    // needs none, and its helper holds no socket.
    void aReplyNeedsNoNetwork()
    {
        if (::unshare(CLONE_NEWNET) != 0)
            QSKIP("Cannot leave the network here (unshare(CLONE_NEWNET) needs root or user namespaces)");
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces())
            QCOMPARE(interface.flags() & QNetworkInterface::IsLoopBack, QNetworkInterface::IsLoopBack);
        SystemLanguageModel::restoreDefaultEngine();  // its helper starts in here
        engine().setContextLength(256);
        engine().setSeed(7);
        AppleIntelligenceBackend backend;
        auto stream = backend.streamResponse(QStringLiteral("Hi"), {}, QString());
        QStringList sockets;
        QObject::connect(stream.get(), &ReplyStream::appended, stream.get(), [&sockets] {
            const QDir fds(QStringLiteral("/proc/%1/fd").arg(engine().helperProcessId()));
            for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
                if (fd.symLinkTarget().contains(QLatin1String("socket:")))
                    sockets << fd.fileName();
        }, Qt::SingleShotConnection);
        const CollectedReply got = collectReply(stream.get(), 30000);
        QVERIFY(got.finished);
        QVERIFY(!got.elements.isEmpty());
        QVERIFY2(sockets.isEmpty(), qPrintable(sockets.join(u' ')));
    }
};

QTEST_GUILESS_MAIN(TestOnDeviceModel)
#include "tst_ondevicemodel.moc"
