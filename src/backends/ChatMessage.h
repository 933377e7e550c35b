#pragma once

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QUuid>

#include <algorithm>

// One turn of the conversation held in memory. The id is made at creation and
// never taken from outside; there is deliberately no equality on whole messages.
struct ChatMessage
{
    enum class Role { user, assistant };

    ChatMessage(Role role, QString content)
        : id(newId()), role(role), content(std::move(content)) {}

    QUuid id;
    Role role;
    QString content;

private:
    // Unique within the run: a random prefix drawn once per thread, then a
    // count. Restoring a long conversation draws no random number per message.
    static QUuid newId()
    {
        thread_local const quint64 prefix = QRandomGenerator::system()->generate64();
        thread_local quint64 count = 0;
        const quint64 n = ++count;
        return QUuid(uint(prefix >> 32), ushort(prefix >> 16), ushort(prefix), uchar(n >> 56), uchar(n >> 48),
                     uchar(n >> 40), uchar(n >> 32), uchar(n >> 24), uchar(n >> 16), uchar(n >> 8), uchar(n));
    }
};

// A message moves as its bytes (a QUuid, an enum and a QString), so a list
// that outgrows its buffer reallocates it instead of copying every message.
Q_DECLARE_TYPEINFO(ChatMessage, Q_RELOCATABLE_TYPE);

// The conversation before the turn being answered, oldest first: the first
// size() messages of a list that may go on with the turn's own. The chat adds
// the turn to its list first and then hands the list on, shared: neither the
// hand-over nor the adding copies the list (a list that is shared when it is
// changed is copied whole).
class ChatHistory
{
public:
    ChatHistory() = default;
    ChatHistory(QList<ChatMessage> messages) : m_messages(std::move(messages)), m_size(m_messages.size()) {}
    ChatHistory(QList<ChatMessage> messages, qsizetype size)
        : m_messages(std::move(messages)), m_size(std::clamp<qsizetype>(size, 0, m_messages.size())) {}

    qsizetype size() const { return m_size; }
    QList<ChatMessage>::const_iterator begin() const { return m_messages.cbegin(); }
    QList<ChatMessage>::const_iterator end() const { return m_messages.cbegin() + m_size; }

private:
    QList<ChatMessage> m_messages;
    qsizetype m_size = 0;
};

// The text form written to the store and to the Ollama request.
inline QString roleName(ChatMessage::Role role)
{
    return role == ChatMessage::Role::user ? QStringLiteral("user") : QStringLiteral("assistant");
}
