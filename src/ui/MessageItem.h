#pragma once

#include "MessageTextView.h"

#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

// The root item of a message bubble: a focus scope that hands the message's
// text to the text view showing it. In the message list it is the delegate,
// which takes its row's `content` as a required property: the text goes from
// the model to the text view in C++, where no script holds it and nothing keeps
// the string itself, so the list model appends to a growing reply in place.
class MessageItem : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(MessageTextView *textView READ textView WRITE setTextView NOTIFY textViewChanged)
public:
    explicit MessageItem(QQuickItem *parent = nullptr);

    QString content() const;
    void setContent(const QString &content);
    MessageTextView *textView() const { return m_textView; }
    void setTextView(MessageTextView *view);

    // Puts the message's text on the clipboard, as it was given.
    Q_INVOKABLE void copyContent() const;

signals:
    void contentChanged();
    void textViewChanged();

private:
    QPointer<MessageTextView> m_textView;
    QString m_early;  // a text given before the text view
};
