#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

// What a message bubble shows, decided in C++ so that QML only binds to it:
// the Markdown test, the rich text (styled or verbatim), the plain text for
// screen readers, copying to the clipboard and opening links.
class MessageFormatter : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // True when the text contains "**", "__", "*", "`" or "[" (tested in that order).
    Q_INVOKABLE static bool looksLikeMarkdown(const QString &content);

    // { richText, plainText, styled } for a message of `role` ("user" or
    // "assistant"). An empty message shows one space; assistant text that looks
    // like Markdown is styled (or shown raw when the parser rejects it); any
    // other text is shown verbatim.
    Q_INVOKABLE static QVariantMap present(const QString &content, const QString &role);

    // Replaces the clipboard's contents with `text` as plain text.
    Q_INVOKABLE static void copyToClipboard(const QString &text);

    // Only web and mail addresses are handed to the desktop; anything else
    // (javascript:, file:, relative addresses) is ignored. Returns whether it opened.
    Q_INVOKABLE static bool openLink(const QString &url);
    static bool isOpenableLink(const QUrl &url);
};
