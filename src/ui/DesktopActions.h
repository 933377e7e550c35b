#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// What the views ask of the desktop: putting text on the clipboard, opening
// an address in the user's browser or mail program, and showing the Models
// folder in the file manager. The rule for which addresses may be opened
// lives here and nowhere else.
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

    // Opens the folder the on-device model is read from, and no other, in the
    // file manager, first creating it (owner-only, as the store's folder) when
    // it does not exist yet. Returns an empty text when it opened, otherwise
    // a sentence saying why not.
    Q_INVOKABLE static QString openModelFolder();
};
