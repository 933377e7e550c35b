#pragma once

// The chat view model's state, shared by its two source files.
#include "ChatViewModel.h"
#include "ReplyStream.h"
#include "SessionStore.h"

#include <QPointer>

// The running reply: the stream it reads and the backend it was started with
// (kept alive until the reply ends).
struct ReplyTask
{
    std::unique_ptr<ReplyStream> stream;
    std::shared_ptr<ModelBackend> backend;
};

struct ChatViewModel::Private
{
    MessageListModel *model = nullptr;
    QString draft;
    bool isGenerating = false;
    std::optional<QString> availabilityError;
    std::optional<WritingMode> activeMode;
    ModelManager *manager = nullptr;
    std::unique_ptr<ReplyTask> task;
    QPointer<SessionStore> store;
    std::optional<qint64> currentSession;  // the id of the record in use
    // The stored conversation (or a long one's later texts) is still being
    // read: nothing is saved meanwhile, and a send waits for it.
    bool restoring = false;
    bool sendWhenRestored = false;
};
