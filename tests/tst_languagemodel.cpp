#include "LanguageModel.h"
#include "ScriptedLanguageModel.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// What one response reported, once it ended.
struct Outcome
{
    QStringList snapshots;
    bool finished = false;
    std::optional<LanguageModelError> error;
};

Outcome wait(const std::shared_ptr<LanguageModelResponse> &response, const std::function<void()> &afterFirst = {})
{
    Outcome got;
    QObject::connect(response.get(), &LanguageModelResponse::snapshot, [&](const QString &text) {
        got.snapshots << text;
        if (afterFirst && got.snapshots.size() == 1)
            afterFirst();
    });
    QObject::connect(response.get(), &LanguageModelResponse::finished, [&] { got.finished = true; });
    QObject::connect(response.get(), &LanguageModelResponse::failed, [&](const LanguageModelError &e) { got.error = e; });
    if (!QTest::qWaitFor([&] { return got.finished || got.error; }, 10000))
        qWarning("the response did not end in time");
    return got;
}

} // namespace

// The on-device model layer over a scripted engine: what the default model
// reports with and without an engine, how a session keeps its transcript, and
// how replies of several sessions take turns.
class TestLanguageModel : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ScriptedLanguageModel::uninstall(); }

    void withoutAnEngineTheDefaultModelIsNotEligible()
    {
        SystemLanguageModel::installEngine(nullptr);
        const SystemLanguageModel &model = SystemLanguageModel::defaultModel();
        QCOMPARE(model.availability(), Availability::unavailable(UnavailableReason::deviceNotEligible));

        // A session made anyway fails with a sentence, later, not within the call.
        LanguageModelSession session(model, QStringLiteral("Be brief."));
        const auto response = session.streamResponse(QStringLiteral("Hello"));
        QVERIFY(!response->hasEnded());
        const Outcome got = wait(response);
        QVERIFY(got.error);
        QCOMPARE(got.error->kind, LanguageModelError::Kind::unavailable);
        QCOMPARE(got.error->description, QStringLiteral("This device cannot run the on-device language model."));
        QVERIFY(session.transcript().isEmpty());
    }

    void availabilityFollowsTheInstalledEngineOnEveryRead()
    {
        {
            ScopedScriptedModel scripted;
            const SystemLanguageModel &model = SystemLanguageModel::defaultModel();
            QVERIFY(model.isAvailable());
            scripted->setUnavailable(UnavailableReason::appleIntelligenceNotEnabled);
            QVERIFY(model.availability().reason == UnavailableReason::appleIntelligenceNotEnabled);
            scripted->setAvailable();
            QVERIFY(model.isAvailable());
        }
#ifdef HUSHWING_HAS_ENGINE
        // Leaving the scope brings the build's own engine back; the tests' data
        // folder holds no model file.
        QVERIFY(SystemLanguageModel::defaultModel().availability().reason == UnavailableReason::modelNotReady);
#endif
    }

    void sessionKeepsItsTranscriptAndInstructions()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue({QStringLiteral("Hi"), QStringLiteral("Hi there")});
        LanguageModelSession session(SystemLanguageModel::defaultModel(), QStringLiteral("Be kind."));
        const Outcome first = wait(session.streamResponse(QStringLiteral("Hello")));
        QCOMPARE(first.snapshots, (QStringList{QStringLiteral("Hi"), QStringLiteral("Hi there")}));
        QVERIFY(first.finished);
        wait(session.streamResponse(QStringLiteral("Again")));

        const auto asked = scripted->requests();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[1].instructions, QStringLiteral("Be kind."));
        const Transcript firstTurn{{TranscriptEntry::Kind::prompt, QStringLiteral("Hello")},
                                   {TranscriptEntry::Kind::response, QStringLiteral("Hi there")}};
        QCOMPARE(asked[1].transcript, firstTurn);
        QCOMPARE(session.transcript().size(), 4);
        QCOMPARE(session.transcript().last().text, QStringLiteral("Reply to: Again"));
    }

    void failedReplyLeavesTranscriptAloneStoppedOneKeepsItsText()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::failing({QStringLiteral("Par")}, QStringLiteral("Too long.")));
        LanguageModelSession session(SystemLanguageModel::defaultModel(), QString());
        const Outcome failure = wait(session.streamResponse(QStringLiteral("one")));
        QCOMPARE(failure.error->kind, LanguageModelError::Kind::generationFailed);
        QCOMPARE(failure.error->description, QStringLiteral("Too long."));
        QVERIFY(session.transcript().isEmpty());

        // Stopped once the first snapshot is out: the text so far is what the user saw.
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("A")}, {QStringLiteral("AB")}));
        const auto response = session.streamResponse(QStringLiteral("two"));
        const Outcome stopped = wait(response, [&] { response->stop(); });
        QVERIFY(stopped.finished);
        QCOMPARE(stopped.snapshots, QStringList{QStringLiteral("A")});
        QTRY_COMPARE(scripted->requests().last().outcome, ScriptedRequest::Outcome::cancelled);
        QCOMPARE(session.transcript().size(), 2);
        QCOMPARE(session.transcript().last().text, QStringLiteral("A"));
    }

    // One reply at a time, whatever session asks: the second reply of a
    // session sees the first in its transcript, and a reply stopped while it
    // waits ends empty without running.
    void repliesTakeTurns()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::stalling({QStringLiteral("first")}));
        LanguageModelSession one(SystemLanguageModel::defaultModel(), QStringLiteral("one"));
        LanguageModelSession other(SystemLanguageModel::defaultModel(), QStringLiteral("other"));
        const auto a = one.streamResponse(QStringLiteral("a"));
        const auto b = other.streamResponse(QStringLiteral("b"));
        const auto c = one.streamResponse(QStringLiteral("c"));
        QTRY_COMPARE(scripted->stalledCount(), 1);
        b->stop();
        scripted->release();
        const Outcome third = wait(c);
        QVERIFY(a->hasEnded() && b->hasEnded());
        QCOMPARE(b->content(), QString());
        QCOMPARE(third.snapshots.last(), QStringLiteral("Reply to: c"));
        const auto asked = scripted->requests();
        QCOMPARE(asked.size(), 2);  // b never ran
        QCOMPARE(asked[1].transcript.size(), 2);
        QCOMPARE(asked[1].transcript.last().text, QStringLiteral("first"));
        QCOMPARE(other.transcript().size(), 2);  // b counts, with no text
    }

    // An engine that goes (uninstalled, and no session holds it any more)
    // while replies run or wait ends each of them with a sentence.
    void anEngineThatGoesEndsItsReplies()
    {
        std::shared_ptr<LanguageModelResponse> running, waiting;
        std::optional<QSignalSpy> runningFailed, waitingFailed;
        {
            auto scripted = ScriptedLanguageModel::install();
            scripted->enqueue(ScriptedReply::stalling({}));
            LanguageModelSession session(SystemLanguageModel::defaultModel(), QString());
            running = session.streamResponse(QStringLiteral("one"));
            waiting = session.streamResponse(QStringLiteral("two"));
            runningFailed.emplace(running.get(), &LanguageModelResponse::failed);
            waitingFailed.emplace(waiting.get(), &LanguageModelResponse::failed);
            QTRY_COMPARE(scripted->stalledCount(), 1);
            ScriptedLanguageModel::uninstall();
        }
        QCOMPARE(runningFailed->count(), 1);
        QCOMPARE(waitingFailed->count(), 1);
        QCOMPARE(runningFailed->at(0).at(0).value<LanguageModelError>().description,
                 QStringLiteral("The on-device model was shut down."));
    }
};

QTEST_GUILESS_MAIN(TestLanguageModel)
#include "tst_languagemodel.moc"
