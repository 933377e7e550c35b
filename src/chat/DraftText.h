#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The draft's white-space rules, in one place for the view model (sending)
// and the input bar (the send button's colour). Kept out of JavaScript, whose
// trim() also removes line breaks.
class DraftText : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // White space: the Unicode space separators (Zs) and tab.
    static bool isWhiteSpace(QChar c);
    // Line breaks: LF, VT, FF, CR, NEL, LINE SEPARATOR, PARAGRAPH SEPARATOR.
    static bool isLineBreak(QChar c);

    // True when `text` holds nothing but white space. Line breaks count as
    // content: a draft of only line breaks is not blank here, although
    // sending it does nothing.
    Q_INVOKABLE static bool isBlank(const QString &text);

    // What is sent: `text` without leading and trailing white space and line breaks.
    static QString trimmedForSending(const QString &text);
};
