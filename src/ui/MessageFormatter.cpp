#include "MessageFormatter.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

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
