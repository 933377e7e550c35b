#include "AppConfig.h"

// Texts are written as UTF-8 literals: "·" is U+00B7, "—" is U+2014, "©" is U+00A9.

const QString &AppConfig::appName()
{
    static const QString value = QStringLiteral("Hushwing");
    return value;
}

const QString &AppConfig::tagline()
{
    static const QString value = QString::fromUtf8("Private \u00B7 Offline \u00B7 On-device");
    return value;
}

const QString &AppConfig::welcomeMessage()
{
    static const QString value = QString::fromUtf8(
        "Hi! I'm your on-device AI assistant, running entirely on this device via Apple "
        "Intelligence. Ask me anything \u2014 nothing leaves your device.");
    return value;
}

const QString &AppConfig::modelLabel()
{
    static const QString value = QString::fromUtf8("Apple Intelligence \u00B7 On-device");
    return value;
}

const QString &AppConfig::website()
{
    // The project's own reserved-for-documentation address: it names no third party.
    static const QString value = QStringLiteral("https://hushwing.example");
    return value;
}

const QString &AppConfig::copyright()
{
    static const QString value = QString::fromUtf8("\u00A9 2026 The Hushwing developers");
    return value;
}

const QString &AppConfig::appDescription()
{
    static const QString value = QString::fromUtf8(
        "Hushwing is a private AI chat assistant powered entirely by Apple Intelligence. "
        "Everything runs on your device \u2014 no internet connection or account is needed, "
        "and no data ever leaves your device.");
    return value;
}

const QString &AppConfig::disclaimer()
{
    static const QString value = QStringLiteral(
        "This app is for personal research and exploration only. Responses may be incomplete, "
        "outdated, or declined due to model guardrails. Do not rely on it for professional, "
        "medical, legal, or financial decisions.");
    return value;
}

const QString &AppConfig::defaultSystemPrompt()
{
    static const QString value = QString::fromUtf8(
        "You are an on-device AI assistant running via Apple Intelligence directly on the "
        "user's device. All processing happens locally \u2014 you have no internet access and "
        "cannot retrieve real-time information. You work entirely from your pre-trained "
        "knowledge. Never claim to have internet access, live data, or the ability to look "
        "things up.");
    return value;
}

QList<AppConfig::WritingMode> AppConfig::writingModes()
{
    static const QList<WritingMode> table = {
        {QStringLiteral("Proofread"), QStringLiteral("checkmark.circle"),
         QStringLiteral("You are a careful editor. Correct grammar, spelling, punctuation, and "
                        "clarity in the text the user provides. Return the corrected text, then "
                        "briefly list the changes made.")},
        {QStringLiteral("Summarise"), QStringLiteral("text.alignleft"),
         QStringLiteral("You are a concise summariser. When the user gives you text, return a "
                        "clear, well-structured summary that captures the key points.")},
        {QStringLiteral("Explain Simply"), QStringLiteral("lightbulb"),
         QStringLiteral("Explain things simply, as if to someone completely new to the topic. "
                        "Use plain language, short sentences, and helpful analogies. Avoid "
                        "jargon.")},
        {QStringLiteral("Rewrite"), QStringLiteral("pencil.and.outline"),
         QStringLiteral("Rewrite the user's text to improve clarity, flow, and conciseness. "
                        "Preserve the original meaning and intended tone.")},
    };
    return table;
}

QVariantList AppConfigQml::writingModes() const
{
    QVariantList list;
    for (const auto &mode : AppConfig::writingModes())
        list.append(QVariant::fromValue(mode));
    return list;
}

QString AppConfigQml::version() const
{
#ifdef HUSHWING_VERSION
    const QString built = QStringLiteral(HUSHWING_VERSION);
    if (!built.isEmpty())
        return built;
#endif
    return QStringLiteral("1.0");
}
