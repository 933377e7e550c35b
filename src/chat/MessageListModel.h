#pragma once

#include "ChatMessage.h"

#include <QAbstractListModel>
#include <QList>
#include <QtQml/qqmlregistration.h>

// The conversation as a list model for the views: one row per message, with the
// roles id, role ("user" / "assistant") and content. A streamed reply changes
// only its own row. The chat view model is its only writer.
//
// A reply can stream in thousands of elements a second, each replacing the
// whole text. The data always holds the newest text, but views hear of content
// changes at most once per pass of the event loop: the first change of a pass
// is signalled at once, later ones in the same pass together when it ends.
// Views would only redraw the newest text anyway; this keeps their per-change
// work (bindings, layout) out of the streaming loop.
class MessageListModel : public QAbstractListModel
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the chat view model")
public:
    enum Roles { IdRole = Qt::UserRole + 1, RoleRole, ContentRole };
    using QAbstractListModel::QAbstractListModel;

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
    // Replaces the text of one message; false when `row` is outside the list.
    bool setContent(int row, const QString &content);

private:
    void notifyContent(int row);
    void endPass();

    QList<ChatMessage> m_messages;
    QList<int> m_unsignalledRows;  // changed since this pass's first signal
    bool m_signalledThisPass = false;
};
