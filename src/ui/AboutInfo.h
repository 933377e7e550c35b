#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// The About screen's decisions that can go wrong: the version line's fallback
// and whether the maker's web address is shown as a link or as plain text.
class AboutInfo : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // The version as built, or "1.0" when none was compiled in.
    Q_INVOKABLE static QString displayVersion(const QString &built);

    // The address when it parses as an absolute http(s) URL with a host;
    // otherwise an empty URL, and the screen shows the text instead.
    Q_INVOKABLE static QUrl websiteUrl(const QString &website);
    Q_INVOKABLE static bool isLink(const QString &website) { return !websiteUrl(website).isEmpty(); }
    // The link's label: the domain name ("www." dropped), or the text itself
    // when it is not a link.
    Q_INVOKABLE static QString linkLabel(const QString &website);
};
