#include "AppleIntelligenceBackend.h"
#include "ReplyCollector.h"
#include "ScriptedLanguageModel.h"

#include <QTest>
#include <QThread>

namespace {

CollectedReply reply(AppleIntelligenceBackend &backend, const QString &prompt, const QString &systemPrompt,
                     const QList<ChatMessage> &history = {})
{
    auto stream = backend.streamResponse(prompt, history, systemPrompt);
    return collectReply(stream.get());
}

const QString kFirstPrompt = QStringLiteral("You are terse.");
const QString kSecondPrompt = QStringLiteral("You are verbose.");

} // namespace

// The on-device backend over a scripted model: one cached session, snapshots
// as whole texts made off the main thread, failures and stops.
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
        SystemLanguageModel::installEngine(nullptr);
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

    // Snapshots that come faster than a frame reach the consumer together, as
    // the newest: every element is a whole text, the first and the last arrive.
    void snapshotsBecomeWholeTextsProducedOffTheMainThread()
    {
        ScopedScriptedModel scripted;
        QThread *producedOn = nullptr;
        scripted->setResponder([&producedOn](const ScriptedRequest &) {
            producedOn = QThread::currentThread();
            return ScriptedReply::of({QStringLiteral("The"), QStringLiteral("The cat"), QStringLiteral("The cat sat.")});
        });
        AppleIntelligenceBackend backend;
        const CollectedReply got = reply(backend, QStringLiteral("Write."), kFirstPrompt);
        QVERIFY(QStringLiteral("The cat sat.").startsWith(got.elements.value(0)));
        QCOMPARE(got.elements.last(), QStringLiteral("The cat sat."));
        QVERIFY(got.elements.size() <= 3);
        QVERIFY(got.finished);
        QVERIFY(producedOn);
        QVERIFY(producedOn != QThread::currentThread());
    }

    // The first system prompt stays; history is never read; reset() lets the
    // session go, and the next reply starts an empty one under the new prompt.
    void oneSessionUntilReset()
    {
        ScopedScriptedModel scripted;
        AppleIntelligenceBackend backend;
        const QList<ChatMessage> history{{ChatMessage::Role::user, QStringLiteral("Earlier")},
                                         {ChatMessage::Role::assistant, QStringLiteral("Error: it broke")}};
        reply(backend, QStringLiteral("One"), kFirstPrompt, history);
        reply(backend, QStringLiteral("Two"), kSecondPrompt, history);
        auto asked = scripted->requests();
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked[0].transcript.isEmpty());
        QCOMPARE(asked[1].instructions, kFirstPrompt);
        QCOMPARE(asked[1].sessionId, asked[0].sessionId);
        const Transcript earlier{{TranscriptEntry::Kind::prompt, QStringLiteral("One")},
                                 {TranscriptEntry::Kind::response, QStringLiteral("Reply to: One")}};
        QCOMPARE(asked[1].transcript, earlier);

        QVERIFY(!scripted->hasEndedSession(asked[0].sessionId));
        backend.reset();
        QVERIFY(scripted->hasEndedSession(asked[0].sessionId));
        reply(backend, QStringLiteral("Three"), kSecondPrompt, history);
        const auto last = scripted->lastRequest();
        QVERIFY(last->sessionId != asked[0].sessionId);
        QCOMPARE(last->instructions, kSecondPrompt);
        QVERIFY(last->transcript.isEmpty());
    }

    void failureEndsTheStreamWithThePlatformsDescription()
    {
        ScopedScriptedModel scripted;
        AppleIntelligenceBackend backend;
        scripted->enqueue(ScriptedReply::failing({QStringLiteral("Part")}, QStringLiteral("The model refused.")));
        const CollectedReply partial = reply(backend, QStringLiteral("Go"), kFirstPrompt);
        QCOMPARE(partial.elements, QStringList{QStringLiteral("Part")});
        QVERIFY(!partial.finished);
        QCOMPARE(partial.error->kind, ReplyError::Kind::model);
        QCOMPARE(partial.error->description, QStringLiteral("The model refused."));

        // No engine at all: a sentence too.
        SystemLanguageModel::installEngine(nullptr);
        AppleIntelligenceBackend unsupported;
        const CollectedReply none = reply(unsupported, QStringLiteral("Hi"), kFirstPrompt);
        QVERIFY(none.elements.isEmpty());
        QCOMPARE(none.error->description, QStringLiteral("This device cannot run the on-device language model."));
    }

    // Cancelling, or dropping, the stream stops the model between two steps.
    void stoppingTheConsumerStopsTheProducer()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("A")}, {QStringLiteral("AB"), QStringLiteral("ABC")}));
        AppleIntelligenceBackend backend;
        auto stream = backend.streamResponse(QStringLiteral("Go"), {}, kFirstPrompt);
        QTRY_COMPARE(scripted->stalledCount(), 1);
        stream->cancel();
        const CollectedReply got = collectReply(stream.get());
        QVERIFY(got.finished);
        QTRY_COMPARE_WITH_TIMEOUT(scripted->lastRequest()->outcome, ScriptedRequest::Outcome::cancelled, 10000);
        QCOMPARE(scripted->lastRequest()->snapshotsProduced, 1);

        scripted->enqueue(ScriptedReply::stalling({}, {QStringLiteral("never")}));
        auto dropped = backend.streamResponse(QStringLiteral("Go"), {}, kFirstPrompt);
        QTRY_COMPARE(scripted->stalledCount(), 1);
        dropped.reset();
        QTRY_COMPARE_WITH_TIMEOUT(scripted->lastRequest()->outcome, ScriptedRequest::Outcome::cancelled, 10000);
        QCOMPARE(scripted->lastRequest()->snapshotsProduced, 0);
    }

    void aReplyRunningAcrossResetFinishesOnItsOwnSession()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("A")}, {QStringLiteral("AB")}));
        AppleIntelligenceBackend backend;
        auto stream = backend.streamResponse(QStringLiteral("One"), {}, kFirstPrompt);
        QString whole;  // "A" comes before the reset
        connect(stream.get(), &ReplyStream::appended, this, [&whole](const QString &piece) { whole += piece; });
        QTRY_COMPARE(scripted->stalledCount(), 1);
        backend.reset();
        scripted->release();
        const CollectedReply got = collectReply(stream.get());
        QCOMPARE(whole, QStringLiteral("AB"));
        QVERIFY(got.finished);
        const quint64 first = scripted->lastRequest()->sessionId;

        reply(backend, QStringLiteral("Two"), kSecondPrompt);
        QVERIFY(scripted->lastRequest()->sessionId != first);
        QVERIFY(scripted->lastRequest()->transcript.isEmpty());
        QCOMPARE(scripted->lastRequest()->instructions, kSecondPrompt);
    }
};

QTEST_GUILESS_MAIN(TestAppleIntelligenceBackend)
#include "tst_appleintelligencebackend.moc"
