#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// Text rules of the input bar that depend on exact character sets, kept out of
// JavaScript, whose trim() also removes line breaks.
class DraftText : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // True when `text` holds nothing once leading and trailing white space is
    // removed, where white space is the Unicode space separators (Zs) and tab
    // only. Line breaks count as content: a draft of only line breaks is not
    // blank here, although sending it does nothing.
    Q_INVOKABLE static bool isBlank(const QString &text);
};
