#include "MessageFormatter.h"

#include "InlineMarkdown.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

bool MessageFormatter::looksLikeMarkdown(const QString &content)
{
    static const QString markers[] = {QStringLiteral("**"), QStringLiteral("__"), QStringLiteral("*"),
                                      QStringLiteral("`"), QStringLiteral("[")};
    for (const QString &marker : markers)
        if (content.contains(marker))
            return true;
    return false;
}

QVariantMap MessageFormatter::present(const QString &content, const QString &role)
{
    if (content.isEmpty()) {
        const QString space = QStringLiteral(" ");
        return {{"richText", InlineMarkdown::plainToRichText(space)}, {"plainText", space}, {"styled", false}};
    }
    if (role == QLatin1String("assistant") && looksLikeMarkdown(content)) {
        if (const auto root = InlineMarkdown::parse(content))
            return {{"richText", InlineMarkdown::toRichText(*root)},
                    {"plainText", InlineMarkdown::toPlainText(*root)},
                    {"styled", true}};
    }
    return {{"richText", InlineMarkdown::plainToRichText(content)}, {"plainText", content}, {"styled", false}};
}

void MessageFormatter::copyToClipboard(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    clipboard->clear();
    clipboard->setText(text);
}

bool MessageFormatter::isOpenableLink(const QUrl &url)
{
    if (!url.isValid() || url.isRelative())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("mailto"))
        return !url.path().isEmpty();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

bool MessageFormatter::openLink(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!isOpenableLink(parsed))
        return false;
    return QDesktopServices::openUrl(parsed);
}
