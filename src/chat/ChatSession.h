#pragma once

#include "ChatMessage.h"

#include <QDateTime>
#include <QList>

// The stored conversation: one row of the store's ChatSession table. The file
// keeps the messages as two parallel JSON lists of strings, `roles` ("user" or
// "assistant") and `contents`; reading pairs them up to the shorter one and
// reads any role but "user" as the assistant's. A record is a value: the row
// id is its identity. Handing one to the store shares the message list (no copy).
struct ChatSession
{
    qint64 id = 0;  // the row, from SessionStore::newRecord() or as read
    QDateTime updatedAt = QDateTime::currentDateTimeUtc();
    QList<ChatMessage> messages;
};
