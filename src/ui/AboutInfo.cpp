#include "AboutInfo.h"

#include "DesktopActions.h"

QString AboutInfo::displayVersion(const QString &built)
{
    const QString trimmed = built.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("1.0") : trimmed;
}

QUrl AboutInfo::websiteUrl(const QString &website)
{
    const QUrl url(website.trimmed(), QUrl::StrictMode);
    return DesktopActions::isWebLink(url) ? url : QUrl();
}

QString AboutInfo::linkLabel(const QString &website)
{
    const QUrl url = websiteUrl(website);
    if (url.isEmpty())
        return website;
    QString host = url.host();
    if (host.startsWith(QLatin1String("www.")))
        host.remove(0, 4);
    return host;
}
