#include "LanguageModel.h"
#include "ScriptedLanguageModel.h"

#include <QTest>

// The on-device model layer: what the default model reports with and without an
// engine behind it, and how a session keeps its transcript.
class TestLanguageModel : public QObject
{
    Q_OBJECT

    static std::optional<LanguageModelError> respond(LanguageModelSession &session, const QString &prompt,
                                                     QStringList *snapshots = nullptr,
                                                     CancelledPredicate cancelled = [] { return false; })
    {
        return session.streamResponse(prompt, GenerationOptions{},
                                      [snapshots](const ResponseSnapshot &s) {
                                          if (snapshots)
                                              snapshots->append(s.content);
                                      },
                                      cancelled);
    }

private slots:
    void withoutAnEngineTheDefaultModelIsNotEligible()
    {
        SystemLanguageModel::installEngine(nullptr);
        const SystemLanguageModel &model = SystemLanguageModel::defaultModel();
        QVERIFY(!model.isAvailable());
        QCOMPARE(model.availability(), Availability::unavailable(UnavailableReason::deviceNotEligible));

        // A session made anyway fails with a sentence, not a crash.
        LanguageModelSession session(model, QStringLiteral("Be brief."));
        const auto error = respond(session, QStringLiteral("Hello"));
        QVERIFY(error);
        QCOMPARE(error->kind, LanguageModelError::Kind::unavailable);
        QCOMPARE(error->description, QStringLiteral("This device cannot run the on-device language model."));
        QVERIFY(session.transcript().isEmpty());
    }

    void reasonsReadAsTheirCaseNames()
    {
        QCOMPARE(toString(UnavailableReason::deviceNotEligible), QStringLiteral("deviceNotEligible"));
        QCOMPARE(toString(UnavailableReason::appleIntelligenceNotEnabled),
                 QStringLiteral("appleIntelligenceNotEnabled"));
        QCOMPARE(toString(UnavailableReason::modelNotReady), QStringLiteral("modelNotReady"));
    }

    void availabilityFollowsTheInstalledEngineOnEveryRead()
    {
        {
            ScopedScriptedModel scripted;
            const SystemLanguageModel &model = SystemLanguageModel::defaultModel();
            QVERIFY(model.isAvailable());
            scripted->setUnavailable(UnavailableReason::appleIntelligenceNotEnabled);
            QVERIFY(!model.isAvailable());
            QVERIFY(model.availability().reason == UnavailableReason::appleIntelligenceNotEnabled);
            scripted->setAvailable();
            QVERIFY(model.isAvailable());
            QVERIFY(model.availability().reason == std::nullopt);
        }
        // Leaving the scope takes the engine away again.
        QVERIFY(SystemLanguageModel::defaultModel().availability().reason == UnavailableReason::deviceNotEligible);
    }

    void sessionKeepsItsTranscriptAndInstructions()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue({QStringLiteral("Hi"), QStringLiteral("Hi there")});
        LanguageModelSession session(SystemLanguageModel::defaultModel(), QStringLiteral("Be kind."));
        QStringList snapshots;
        QVERIFY(!respond(session, QStringLiteral("Hello"), &snapshots));
        QCOMPARE(snapshots, (QStringList{QStringLiteral("Hi"), QStringLiteral("Hi there")}));
        QVERIFY(!respond(session, QStringLiteral("Again")));

        const auto asked = scripted->requests();
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked[0].instructions, QStringLiteral("Be kind."));
        QVERIFY(asked[0].transcript.isEmpty());
        QCOMPARE(asked[1].instructions, QStringLiteral("Be kind."));
        const Transcript firstTurn{{TranscriptEntry::Kind::prompt, QStringLiteral("Hello")},
                                   {TranscriptEntry::Kind::response, QStringLiteral("Hi there")}};
        QCOMPARE(asked[1].transcript, firstTurn);
        QCOMPARE(session.transcript().size(), 4);
        QCOMPARE(session.transcript().last().text, QStringLiteral("Reply to: Again"));
    }

    void failedReplyLeavesTranscriptAloneCancelledOneKeepsItsText()
    {
        ScopedScriptedModel scripted;
        scripted->enqueue(ScriptedReply::failing({QStringLiteral("Par")}, QStringLiteral("Too long.")));
        LanguageModelSession session(SystemLanguageModel::defaultModel(), QString());
        const auto failure = respond(session, QStringLiteral("one"));
        QVERIFY(failure);
        QCOMPARE(failure->kind, LanguageModelError::Kind::generationFailed);
        QCOMPARE(failure->description, QStringLiteral("Too long."));
        QVERIFY(session.transcript().isEmpty());

        // Cancelled once the first snapshot is out: the text so far is what the user saw.
        scripted->enqueue({QStringLiteral("A"), QStringLiteral("AB")});
        bool seen = false;
        const auto cancelled = session.streamResponse(
            QStringLiteral("two"), {}, [&seen](const ResponseSnapshot &) { seen = true; },
            [&seen] { return seen; });
        QVERIFY(cancelled && cancelled->isCancellation());
        QCOMPARE(scripted->requests().last().outcome, ScriptedRequest::Outcome::cancelled);
        QCOMPARE(scripted->requests().last().snapshotsProduced, 1);
        QCOMPARE(session.transcript().size(), 2);
        QCOMPARE(session.transcript().last().text, QStringLiteral("A"));
    }
};

QTEST_GUILESS_MAIN(TestLanguageModel)
#include "tst_languagemodel.moc"
