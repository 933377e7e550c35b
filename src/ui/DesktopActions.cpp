#include "DesktopActions.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>

void DesktopActions::copyToClipboard(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    clipboard->clear();
    clipboard->setText(text);
}

bool DesktopActions::isWebLink(const QUrl &url)
{
    if (!url.isValid() || url.isRelative())
        return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

bool DesktopActions::isOpenableLink(const QUrl &url)
{
    if (isWebLink(url))
        return true;
    return url.isValid() && url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0
           && !url.path().isEmpty();
}

bool DesktopActions::openLink(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!isOpenableLink(parsed))
        return false;
    return QDesktopServices::openUrl(parsed);
}
