#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// What the views ask of the desktop: putting text on the clipboard and opening
// an address in the user's browser or mail program. The rule for which
// addresses may be opened lives here and nowhere else.
class DesktopActions : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // Replaces the clipboard's contents with `text` as plain text.
    Q_INVOKABLE static void copyToClipboard(const QString &text);

    // Only web and mail addresses are handed to the desktop; anything else
    // (javascript:, file:, relative addresses) is ignored. Returns whether it opened.
    Q_INVOKABLE static bool openLink(const QString &url);
    // An absolute http or https address with a host.
    static bool isWebLink(const QUrl &url);
    // A web address, or a mailto: address with a recipient.
    static bool isOpenableLink(const QUrl &url);
};
