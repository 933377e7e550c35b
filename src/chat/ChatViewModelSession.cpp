// The chat view model's ties to the stored conversation and its writing modes.
#include "ChatViewModel.h"
#include "ChatViewModelPrivate.h"

#include "ModelBackend.h"
#include "SessionStore.h"

void ChatViewModel::loadSession()
{
    if (!d->store)
        return;
    const auto records = d->store->fetch();
    if (!records)
        return;  // an unreadable store: nothing restored, nothing stored this run
    if (records->isEmpty()) {
        d->currentSession = std::make_shared<ChatSession>();
        d->store->insert(d->currentSession);
        d->store->save();
        return;
    }

    d->currentSession = records->first();
    const QStringList roles = d->currentSession->roles();
    const QStringList contents = d->currentSession->contents();
    QList<ChatMessage> restored;
    const qsizetype count = std::min(roles.size(), contents.size());
    for (qsizetype i = 0; i < count; ++i) {
        const auto role = roles.at(i) == QLatin1String("user") ? ChatMessage::Role::user
                                                               : ChatMessage::Role::assistant;
        restored.append(ChatMessage(role, contents.at(i)));
    }
    setMessages(restored);
    // Older records go; the store writes the deletions with its next save.
    for (qsizetype i = 1; i < records->size(); ++i)
        d->store->remove(records->at(i));
}

void ChatViewModel::saveSession()
{
    if (!d->currentSession)
        return;
    QStringList roles, contents;
    for (const ChatMessage &message : messages()) {
        roles.append(roleName(message.role));
        contents.append(message.content);
    }
    d->currentSession->setRoles(roles);
    d->currentSession->setContents(contents);
    d->currentSession->setUpdatedAt(QDateTime::currentDateTimeUtc());
    if (d->store)
        d->store->save();
}

void ChatViewModel::newChat()
{
    stop();
    setMessages({});
    if (d->currentSession) {
        d->currentSession->setRoles({});
        d->currentSession->setContents({});
        d->currentSession->setUpdatedAt(QDateTime::currentDateTimeUtc());
    }
    if (d->store)
        d->store->save();
    resetSelectedBackend();
    setAvailabilityError(std::nullopt);
    setActiveMode(std::nullopt);
}

// Writing the mode always notifies.
void ChatViewModel::setActiveMode(const std::optional<WritingMode> &mode)
{
    d->activeMode = mode;
    emit activeModeChanged();
}

void ChatViewModel::resetSelectedBackend()
{
    if (auto selected = d->manager->selected())
        selected->reset();
}

void ChatViewModel::setMode(const WritingMode &mode)
{
    // A mode shapes the whole conversation, so it is chosen before the first message.
    if (!messages().isEmpty())
        return;
    if (d->activeMode && d->activeMode->id() == mode.id())
        setActiveMode(std::nullopt);
    else
        setActiveMode(mode);
    resetSelectedBackend();
}

void ChatViewModel::setMode(const QString &modeID)
{
    for (const WritingMode &mode : AppConfig::writingModes()) {
        if (mode.id() == modeID) {
            setMode(mode);
            return;
        }
    }
}

void ChatViewModel::clearMode()
{
    setActiveMode(std::nullopt);
    resetSelectedBackend();
}
