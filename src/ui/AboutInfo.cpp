#include "AboutInfo.h"

QString AboutInfo::displayVersion(const QString &built)
{
    const QString trimmed = built.trimmed();
    return trimmed.isEmpty() ? QStringLiteral("1.0") : trimmed;
}

QUrl AboutInfo::websiteUrl(const QString &website)
{
    const QUrl url(website.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return {};
    return url;
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
