#include "MessageListModel.h"

MessageListModel::MessageListModel(QObject *parent) : QAbstractListModel(parent)
{
    connect(this, &QAbstractItemModel::rowsInserted, this, &MessageListModel::countChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &MessageListModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &MessageListModel::countChanged);
}

int MessageListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_messages.size());
}

QVariant MessageListModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const ChatMessage &message = m_messages.at(index.row());
    switch (role) {
    case IdRole: return message.id.toString(QUuid::WithoutBraces);
    case RoleRole: return roleName(message.role);
    case ContentRole: return message.content;
    default: return {};
    }
}

QHash<int, QByteArray> MessageListModel::roleNames() const
{
    return {{IdRole, "id"}, {RoleRole, "role"}, {ContentRole, "content"}};
}

void MessageListModel::setMessages(const QList<ChatMessage> &messages)
{
    beginResetModel();
    m_messages = messages;
    endResetModel();
}

bool MessageListModel::fillContents(const QList<ChatMessage> &messages)
{
    if (messages.size() != m_messages.size() || messages.isEmpty() || messages.last().id != m_messages.last().id)
        return false;
    m_messages = messages;
    emit dataChanged(index(0), index(rowCount() - 1), {ContentRole});
    return true;
}

void MessageListModel::append(const ChatMessage &message)
{
    const int row = int(m_messages.size());
    beginInsertRows({}, row, row);
    m_messages.append(message);
    endInsertRows();
}

// Appends in place: a views's copy of the text is its own, so the row's
// string is not shared and grows without being copied.
bool MessageListModel::appendContent(int row, QStringView piece)
{
    if (row < 0 || row >= m_messages.size())
        return false;
    m_messages[row].content.append(piece);
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {ContentRole});
    return true;
}

bool MessageListModel::setContent(int row, const QString &content)
{
    if (row < 0 || row >= m_messages.size())
        return false;
    const QModelIndex at = index(row);
    if (!m_messages[row].content.isEmpty()) {
        m_messages[row].content.clear();
        emit dataChanged(at, at, {ContentRole});
    }
    m_messages[row].content = content;
    emit dataChanged(at, at, {ContentRole});
    return true;
}
