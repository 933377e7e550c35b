#include "AppConfig.h"

#include <QTest>

// The fixed texts are compared as UTF-8 bytes written out by hand, so a wrong
// dash, dot or apostrophe cannot hide behind the source file's encoding.
// "\xC2\xB7" is U+00B7 MIDDLE DOT, "\xE2\x80\x94" is U+2014 EM DASH.
class TestAppConfig : public QObject
{
    Q_OBJECT
private slots:
    void textsMatchByteForByte()
    {
        QCOMPARE(AppConfig::appName().toUtf8(), QByteArray("Hushwing"));
        QCOMPARE(AppConfig::tagline().toUtf8(), QByteArray("Private \xC2\xB7 Offline \xC2\xB7 On-device"));
        QCOMPARE(AppConfig::welcomeMessage().toUtf8(),
                 QByteArray("Hi! I'm your on-device AI assistant, running entirely on this device via Apple "
                            "Intelligence. Ask me anything \xE2\x80\x94 nothing leaves your device."));
        QCOMPARE(AppConfig::modelLabel().toUtf8(), QByteArray("Apple Intelligence \xC2\xB7 On-device"));
        QCOMPARE(AppConfig::appDescription().toUtf8(),
                 QByteArray("Hushwing is a private AI chat assistant powered entirely by Apple Intelligence. "
                            "Everything runs on your device \xE2\x80\x94 no internet connection or account is "
                            "needed, and no data ever leaves your device."));
        QCOMPARE(AppConfig::disclaimer().toUtf8(),
                 QByteArray("This app is for personal research and exploration only. Responses may be "
                            "incomplete, outdated, or declined due to model guardrails. Do not rely on it for "
                            "professional, medical, legal, or financial decisions."));
        QCOMPARE(AppConfig::defaultSystemPrompt().toUtf8(),
                 QByteArray("You are an on-device AI assistant running via Apple Intelligence directly on the "
                            "user's device. All processing happens locally \xE2\x80\x94 you have no internet "
                            "access and cannot retrieve real-time information. You work entirely from your "
                            "pre-trained knowledge. Never claim to have internet access, live data, or the "
                            "ability to look things up."));
    }

    void makersTextsAreWellFormed()
    {
        const QUrl site(AppConfig::website());
        QVERIFY(site.isValid());
        QVERIFY(!site.isRelative());
        QVERIFY(site.scheme() == QLatin1String("https") || site.scheme() == QLatin1String("http"));
        QVERIFY(AppConfig::copyright().toUtf8().startsWith("\xC2\xA9"));
    }

    void writingModesAreTheFourInTableOrder()
    {
        const QList<WritingMode> modes = AppConfig::writingModes();
        QCOMPARE(modes.size(), 4);
        const QList<QByteArray> labels{"Proofread", "Summarise", "Explain Simply", "Rewrite"};
        const QList<QByteArray> icons{"checkmark.circle", "text.alignleft", "lightbulb", "pencil.and.outline"};
        const QList<QByteArray> prompts{
            "You are a careful editor. Correct grammar, spelling, punctuation, and clarity in the text the "
            "user provides. Return the corrected text, then briefly list the changes made.",
            "You are a concise summariser. When the user gives you text, return a clear, well-structured "
            "summary that captures the key points.",
            "Explain things simply, as if to someone completely new to the topic. Use plain language, short "
            "sentences, and helpful analogies. Avoid jargon.",
            "Rewrite the user's text to improve clarity, flow, and conciseness. Preserve the original "
            "meaning and intended tone."};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(modes[i].label.toUtf8(), labels[i]);
            QCOMPARE(modes[i].icon.toUtf8(), icons[i]);
            QCOMPARE(modes[i].systemPrompt.toUtf8(), prompts[i]);
            QCOMPARE(modes[i].id(), modes[i].label);
        }
    }

    void readingTheTableTwiceGivesEqualListsThatCallersCannotChange()
    {
        auto first = AppConfig::writingModes();
        const auto second = AppConfig::writingModes();
        QCOMPARE(first.size(), second.size());
        for (int i = 0; i < first.size(); ++i) {
            QCOMPARE(first[i].id(), second[i].id());
            QCOMPARE(first[i].icon, second[i].icon);
            QCOMPARE(first[i].systemPrompt, second[i].systemPrompt);
        }
        first[0].label = QStringLiteral("Changed");
        first.removeLast();
        QCOMPARE(AppConfig::writingModes().size(), 4);
        QCOMPARE(AppConfig::writingModes().first().id(), QStringLiteral("Proofread"));
    }

    void theViewsSeeTheSameTable()
    {
        AppConfigQml qml;
        const QVariantList modes = qml.writingModes();
        QCOMPARE(modes.size(), 4);
        QCOMPARE(modes[2].value<WritingMode>().id(), QStringLiteral("Explain Simply"));
        QCOMPARE(qml.modelLabel(), AppConfig::modelLabel());
        QVERIFY(!qml.version().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
