#pragma once

#include <QString>
#include <QUuid>

// One turn of the conversation held in memory. The id is drawn at creation and
// never taken from outside; there is deliberately no equality on whole messages.
struct ChatMessage
{
    enum class Role { user, assistant };

    ChatMessage(Role role, QString content)
        : id(QUuid::createUuid()), role(role), content(std::move(content)) {}

    QUuid id;
    Role role;
    QString content;
};

// The text form written to the store and to the Ollama request.
inline QString roleName(ChatMessage::Role role)
{
    return role == ChatMessage::Role::user ? QStringLiteral("user") : QStringLiteral("assistant");
}
