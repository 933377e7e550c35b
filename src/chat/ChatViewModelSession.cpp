// The chat view model's ties to the stored conversation and its writing modes.
#include "ChatViewModel.h"
#include "ChatViewModelPrivate.h"

#include "ModelBackend.h"
#include "SessionStore.h"

// The store has been read; its records are taken over without a copy. The
// newest conversation is shown (a long one its first messages now, the rest
// of the texts as soon as they are read) and the older records go.
void ChatViewModel::loadSession()
{
    const bool wanted = d->restoring;  // false when a new chat came first
    auto records = d->store->takeRecords();
    if (!records) {  // an unreadable store: nothing restored, nothing stored this run
        endRestoring();
        return;
    }
    if (records->isEmpty()) {
        d->currentSession = d->store->newRecord().id;
    } else {
        d->currentSession = records->first().id;
        // Older records go; the store deletes them on its thread.
        for (qsizetype i = 1; i < records->size(); ++i)
            d->store->remove(records->at(i).id);
        if (wanted) {
            setMessages(std::exchange(records->first().messages, {}));
            if (d->store->isRestoring())
                connect(d->store, &SessionStore::restored, this, &ChatViewModel::finishRestoring,
                        Qt::SingleShotConnection);
            else
                endRestoring();
            return;
        }
    }
    // A first start (or a new chat that came first): the record holds the
    // conversation as it is.
    d->store->save({*d->currentSession, QDateTime::currentDateTimeUtc(), messages()});
    endRestoring();
}

// The whole conversation has been read. When the rest of the file turned out
// unreadable, the window is left as for any unreadable store: empty, and a
// waiting message stays in the draft.
void ChatViewModel::finishRestoring(const QList<ChatMessage> &messages)
{
    if (!d->restoring)
        return;  // a new chat came first
    if (messages.isEmpty()) {
        d->currentSession.reset();
        d->sendWhenRestored = false;
        setMessages({});
    } else if (!d->model->fillContents(messages)) {
        setMessages(messages);  // fewer texts than roles: the rows themselves change
    }
    endRestoring();
}

// A message sent while the conversation was coming in goes now.
void ChatViewModel::endRestoring()
{
    setRestoring(false);
    // The waiting message goes from the event loop: here the list is still
    // shared with the restored signal's argument, and adding to it would copy
    // it whole. A new chat before then drops it.
    if (d->sendWhenRestored) {
        QMetaObject::invokeMethod(this, [this] {
            if (std::exchange(d->sendWhenRestored, false))
                send();
        }, Qt::QueuedConnection);
    }
}

void ChatViewModel::setRestoring(bool value)
{
    if (value == d->restoring)
        return;
    d->restoring = value;
    emit isRestoringChanged();
}

// The record gets the message list as it stands: shared with the writer, not
// copied, so the GUI thread does no work in proportion to the conversation.
void ChatViewModel::saveSession()
{
    if (!d->currentSession || !d->store || d->restoring)
        return;
    d->store->save({*d->currentSession, QDateTime::currentDateTimeUtc(), messages()});
}

void ChatViewModel::newChat()
{
    stop();
    d->sendWhenRestored = false;
    setRestoring(false);  // what is still being read is not wanted now
    setMessages({});
    if (d->currentSession && d->store)
        d->store->save({*d->currentSession, QDateTime::currentDateTimeUtc(), {}});
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
