#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// What a message bubble does with its text beyond showing it (which
// MessageTextDocument does): copying it to the clipboard and opening links.
class MessageFormatter : public QObject
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
    static bool isOpenableLink(const QUrl &url);
};
