#pragma once

#include "ChatMessage.h"

#include <QAbstractListModel>
#include <QList>
#include <QtQml/qqmlregistration.h>

// The conversation as a list model for the views: one row per message, with the
// roles id, role ("user" / "assistant") and content. The chat view model is its
// only writer.
//
// A message's text changes in two ways: appendContent() adds to its end (a
// streamed reply grows so), setContent() writes it anew. A view that follows
// one row's text tells the two apart without comparing texts: a text written
// anew is first emptied, so the text a view sees either continues the one it
// saw before or is shorter than it (see MessageTextView).
class MessageListModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the chat view model")
    // The number of rows, for bindings (a view's own count follows only at its next layout).
    Q_PROPERTY(int count READ rowCount NOTIFY countChanged)
public:
    enum Roles { IdRole = Qt::UserRole + 1, RoleRole, ContentRole };
    explicit MessageListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<ChatMessage> &messages() const { return m_messages; }
    void setMessages(const QList<ChatMessage> &messages);
    // Takes `messages`, the messages held with their texts filled in (a long
    // conversation restored in two steps): views hear of changed contents, not
    // of new rows. False, changing nothing, when the rows are not the same.
    bool fillContents(const QList<ChatMessage> &messages);
    void append(const ChatMessage &message);
    // Both change one message's text; false when `row` is outside the list.
    bool appendContent(int row, QStringView piece);
    bool setContent(int row, const QString &content);

signals:
    void countChanged();

private:
    QList<ChatMessage> m_messages;
};
