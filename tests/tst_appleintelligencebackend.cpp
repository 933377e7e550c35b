#include "AppleIntelligenceBackend.h"
#include "ScriptedLanguageModel.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

namespace {

// Everything a consumer saw of one reply.
struct Received
{
    QStringList elements;
    bool finished = false;
    std::optional<ReplyError> error;
};

Received readToEnd(ReplyStream &stream)
{
    Received got;
    QString whole;
    QObject::connect(&stream, &ReplyStream::appended, [&](const QString &p) { got.elements << (whole += p); });
    QObject::connect(&stream, &ReplyStream::replaced, [&](const QString &t) { got.elements << (whole = t); });
    QObject::connect(&stream, &ReplyStream::finished, [&got] { got.finished = true; });
    QObject::connect(&stream, &ReplyStream::failed, [&got](const ReplyError &e) { got.error = e; });
    (void)QTest::qWaitFor([&got] { return got.finished || got.error.has_value(); }, 10000);
    return got;
}

Received reply(AppleIntelligenceBackend &backend, const QString &prompt, const QString &systemPrompt,
               const QList<ChatMessage> &history = {})
{
    auto stream = backend.streamResponse(prompt, history, systemPrompt);
    return readToEnd(*stream);
}

// A platform that reports a cancellation of its own accord, after one snapshot.
class SelfCancellingEngine : public LanguageModelEngine
{
public:
    Availability availability() const override { return Availability::availableNow(); }
    std::optional<LanguageModelError> generate(const QString &, const Transcript &, const QString &,
                                               const GenerationOptions &, const SnapshotCallback &onSnapshot,
                                               const CancelledPredicate &) override
    {
        onSnapshot({QStringLiteral("Half")});
        return LanguageModelError::cancellation();
    }
};

const QString kFirstPrompt = QStringLiteral("You are terse.");
const QString kSecondPrompt = QStringLiteral("You are verbose.");

} // namespace

// The on-device backend over a scripted model: one cached session, snapshots
// as whole texts off the main thread, failures and cancellations.
class TestAppleIntelligenceBackend : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { ScriptedLanguageModel::uninstall(); }

    void infoIsFixed()
    {
        AppleIntelligenceBackend backend;
        const ModelInfo info = backend.info();
        QCOMPARE(info.id, QStringLiteral("apple-intelligence"));
        QCOMPARE(info.name, QStringLiteral("Apple Intelligence"));
        QCOMPARE(info.source, ModelSource::appleIntelligence);
        QVERIFY(info.detail);
        QCOMPARE(info.detail->toUtf8(), QByteArray("On-device \xC2\xB7 Private"));
    }

    void availabilityIsReadAfreshOnEveryCall()
    {
        AppleIntelligenceBackend backend;
        QVERIFY(!backend.isAvailable());
        QCOMPARE(backend.unavailableText(), QStringLiteral("deviceNotEligible"));

        ScopedScriptedModel scripted;
        QVERIFY(backend.isAvailable());
        QCOMPARE(backend.unavailableText(), QString());
        scripted->setUnavailable(UnavailableReason::modelNotReady);
        QVERIFY(!backend.isAvailable());
        QCOMPARE(backend.unavailableText(), QStringLiteral("modelNotReady"));
        scripted->setAvailable();
        QVERIFY(backend.isAvailable());
    }

    // Snapshots that come together reach the consumer together: every element
    // is a whole text that continues the one before, and the last arrives.
    void snapshotsBecomeWholeTextsProducedOffTheMainThread()
    {
        ScopedScriptedModel scripted;
        QThread *producedOn = nullptr;
        scripted->setResponder([&producedOn](const ScriptedRequest &) {
            producedOn = QThread::currentThread();
            return ScriptedReply::of({QStringLiteral("The"), QStringLiteral("The cat"), QStringLiteral("The cat sat.")});
        });
        AppleIntelligenceBackend backend;
        const Received got = reply(backend, QStringLiteral("Write."), kFirstPrompt);
        QVERIFY(QStringLiteral("The cat sat.").startsWith(got.elements.value(0)));
        QCOMPARE(got.elements.last(), QStringLiteral("The cat sat."));
        QVERIFY(got.elements.size() <= 3);
        QVERIFY(got.finished);
        QVERIFY(!got.error);
        QVERIFY(producedOn);
        QVERIFY(producedOn != QThread::currentThread());
    }

    void sessionKeepsTheFirstSystemPromptAndTheTranscriptAcrossTurns()
    {
        ScopedScriptedModel scripted;
        AppleIntelligenceBackend backend;
        QVERIFY(!backend.session());
        reply(backend, QStringLiteral("One"), kFirstPrompt);
        const auto session = backend.session();
        QVERIFY(session);
        reply(backend, QStringLiteral("Two"), kSecondPrompt);
        QCOMPARE(backend.session(), session);

        const auto asked = scripted->requests();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0].instructions, kFirstPrompt);
        QCOMPARE(asked[1].instructions, kFirstPrompt);
        QCOMPARE(asked[1].prompt, QStringLiteral("Two"));
        const Transcript earlier{{TranscriptEntry::Kind::prompt, QStringLiteral("One")},
                                 {TranscriptEntry::Kind::response, QStringLiteral("Reply to: One")}};
        QCOMPARE(asked[1].transcript, earlier);
    }

    void resetStartsAnEmptySessionWithTheNextSystemPrompt()
    {
        ScopedScriptedModel scripted;
        AppleIntelligenceBackend backend;
        reply(backend, QStringLiteral("One"), kFirstPrompt);
        backend.reset();
        QVERIFY(!backend.session());
        // The visible conversation still holds the first turn; the model must not see it.
        const QList<ChatMessage> history{{ChatMessage::Role::user, QStringLiteral("One")},
                                         {ChatMessage::Role::assistant, QStringLiteral("Reply to: One")}};
        reply(backend, QStringLiteral("Two"), kSecondPrompt, history);
        const auto last = scripted->lastRequest();
        QCOMPARE(last->instructions, kSecondPrompt);
        QVERIFY(last->transcript.isEmpty());
    }

    void historyHasNoEffect()
    {
        ScopedScriptedModel scripted;
        AppleIntelligenceBackend plain, withHistory;
        const QList<ChatMessage> history{{ChatMessage::Role::user, QStringLiteral("Earlier")},
                                         {ChatMessage::Role::assistant, QStringLiteral("Error: it broke")}};
        const Received a = reply(plain, QStringLiteral("Hi"), kFirstPrompt);
        const Received b = reply(withHistory, QStringLiteral("Hi"), kFirstPrompt, history);
        QCOMPARE(b.elements, a.elements);
        const auto asked = scripted->requests();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[1].instructions, asked[0].instructions);
        QCOMPARE(asked[1].transcript, asked[0].transcript);
        QCOMPARE(asked[1].prompt, asked[0].prompt);
    }

    void failureEndsTheStreamWithThePlatformsDescription()
    {
        ScopedScriptedModel scripted;
        AppleIntelligenceBackend backend;
        scripted->enqueue(ScriptedReply::failing({QStringLiteral("Part")}, QStringLiteral("The model refused.")));
        const Received partial = reply(backend, QStringLiteral("Go"), kFirstPrompt);
        QCOMPARE(partial.elements, QStringList{QStringLiteral("Part")});
        QVERIFY(!partial.finished);
        QVERIFY(partial.error);
        QCOMPARE(partial.error->kind, ReplyError::Kind::model);
        QCOMPARE(partial.error->description, QStringLiteral("The model refused."));

        scripted->enqueue(ScriptedReply::failing({}, QStringLiteral("Context too long.")));
        const Received empty = reply(backend, QStringLiteral("Go"), kFirstPrompt);
        QVERIFY(empty.elements.isEmpty());
        QCOMPARE(empty.error->description, QStringLiteral("Context too long."));
    }

    void withNoOnDeviceModelTheReplyFailsWithASentence()
    {
        AppleIntelligenceBackend backend;
        const Received got = reply(backend, QStringLiteral("Hi"), kFirstPrompt);
        QVERIFY(got.elements.isEmpty());
        QVERIFY(got.error);
        QCOMPARE(got.error->kind, ReplyError::Kind::model);
        QVERIFY(got.error->description.endsWith(QLatin1Char('.')));
    }

    void aCancellationFromThePlatformEndsNormallyKeepingTheText()
    {
        SystemLanguageModel::installEngine(std::make_shared<SelfCancellingEngine>());
        AppleIntelligenceBackend backend;
        const Received got = reply(backend, QStringLiteral("Hi"), kFirstPrompt);
        QCOMPARE(got.elements, QStringList{QStringLiteral("Half")});
        QVERIFY(got.finished);
        QVERIFY(!got.error);
    }

    void stoppingTheConsumerStopsTheProducer()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("A")}, {QStringLiteral("AB"), QStringLiteral("ABC")}));
        AppleIntelligenceBackend backend;
        auto stream = backend.streamResponse(QStringLiteral("Go"), {}, kFirstPrompt);
        QSignalSpy elements(stream.get(), &ReplyStream::appended);
        QSignalSpy finished(stream.get(), &ReplyStream::finished);
        QSignalSpy failed(stream.get(), &ReplyStream::failed);
        QVERIFY(elements.wait(10000));
        QTRY_COMPARE(scripted->stalledCount(), 1);

        stream->cancel();
        QVERIFY(finished.wait(10000));
        // The worker noticed without being released: it stopped generating.
        QTRY_COMPARE_WITH_TIMEOUT(scripted->lastRequest()->outcome, ScriptedRequest::Outcome::cancelled, 10000);
        QCOMPARE(scripted->lastRequest()->snapshotsProduced, 1);
        QCOMPARE(elements.count(), 1);
        QCOMPARE(failed.count(), 0);
    }

    void droppingTheStreamStopsTheProducerToo()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({}, {QStringLiteral("never")}));
        AppleIntelligenceBackend backend;
        auto stream = backend.streamResponse(QStringLiteral("Go"), {}, kFirstPrompt);
        QTRY_COMPARE(scripted->stalledCount(), 1);
        stream.reset();
        QTRY_COMPARE_WITH_TIMEOUT(scripted->lastRequest()->outcome, ScriptedRequest::Outcome::cancelled, 10000);
        QCOMPARE(scripted->lastRequest()->snapshotsProduced, 0);
    }

    // One worker runs the replies in turn: the second does not start on a
    // transcript the first has not finished.
    void repliesStartedTogetherRunInTurn()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("first")}));
        AppleIntelligenceBackend backend;
        auto one = backend.streamResponse(QStringLiteral("one"), {}, kFirstPrompt);
        auto two = backend.streamResponse(QStringLiteral("two"), {}, kFirstPrompt);
        QSignalSpy secondElements(two.get(), &ReplyStream::appended);
        QSignalSpy secondFinished(two.get(), &ReplyStream::finished);
        QTRY_COMPARE(scripted->stalledCount(), 1);
        QTest::qWait(50);
        QCOMPARE(scripted->requestCount(), 1);
        scripted->release();
        QVERIFY(secondFinished.wait(10000));
        QCOMPARE(secondElements.count(), 1);
        QCOMPARE(secondElements.at(0).at(0).toString(), QStringLiteral("Reply to: two"));
        const auto asked = scripted->requests();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[1].transcript.size(), 2);
        QCOMPARE(asked[1].transcript.last().text, QStringLiteral("first"));
    }

    // A backend that goes while its worker generates stops the worker and
    // still ends the reply's stream.
    void destroyingTheBackendStopsItsWorker()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("A")}, {QStringLiteral("never")}));
        auto backend = std::make_unique<AppleIntelligenceBackend>();
        auto stream = backend->streamResponse(QStringLiteral("Go"), {}, kFirstPrompt);
        QSignalSpy elements(stream.get(), &ReplyStream::appended);
        QSignalSpy finished(stream.get(), &ReplyStream::finished);
        QTRY_COMPARE(scripted->stalledCount(), 1);
        backend.reset();
        QCOMPARE(scripted->lastRequest()->outcome, ScriptedRequest::Outcome::cancelled);
        QVERIFY(finished.wait(10000));
        QCOMPARE(elements.count(), 1);
    }

    void aReplyRunningAcrossResetFinishesOnItsOwnSession()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("A")}, {QStringLiteral("AB")}));
        AppleIntelligenceBackend backend;
        auto stream = backend.streamResponse(QStringLiteral("One"), {}, kFirstPrompt);
        QString whole;
        connect(stream.get(), &ReplyStream::appended, this, [&](const QString &piece) { whole += piece; });
        const auto first = backend.session();
        QTRY_COMPARE(scripted->stalledCount(), 1);
        backend.reset();
        scripted->release();
        const Received got = readToEnd(*stream);
        QCOMPARE(whole, QStringLiteral("AB"));
        QVERIFY(got.finished);
        QCOMPARE(first->transcript().size(), 2);

        reply(backend, QStringLiteral("Two"), kSecondPrompt);
        QVERIFY(backend.session() != first);
        QVERIFY(scripted->lastRequest()->transcript.isEmpty());
        QCOMPARE(scripted->lastRequest()->instructions, kSecondPrompt);
    }
};

QTEST_GUILESS_MAIN(TestAppleIntelligenceBackend)
#include "tst_appleintelligencebackend.moc"
