#pragma once

// Shared by the benchmark programs: medians, target lines and the stored
// conversation they start from.
#include "SampleText.h"
#include "SessionStore.h"

#include <QEventLoop>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The value below which the share `fraction` (0 to 1) of the values lie; -1
// when there are none.
inline double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(fraction * double(values.size())))];
}

inline double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

// Prints one target line and returns whether it was met.
inline bool target(const char *what, double value, const char *relation, double limit, const char *unit)
{
    // A figure that could not be measured (negative) never meets a target.
    const bool met = value >= 0 && (relation[0] == '<' ? value <= limit : value >= limit);
    std::printf("  %-58s %9.2f %s (target %s %.2f %s)  %s\n", what, value, unit, relation, limit, unit,
                met ? "MET" : "MISSED");
    return met;
}

// A conversation of `count` messages, alternating user and assistant, of about
// `totalChars` characters; assistant turns are long and carry inline Markdown.
struct Conversation
{
    QStringList roles;
    QStringList contents;
};

// Short questions and long replies, as in a real conversation: `count`
// messages of about `replyChars` characters for every reply.
inline Conversation questionsAndReplies(int count, qsizetype replyChars)
{
    Conversation c;
    const QString reply = sampleReply(replyChars * 4);
    for (int i = 0; i < count; ++i) {
        const bool user = i % 2 == 0;
        const qsizetype offset = (i * 37) % (reply.size() - replyChars);
        c.roles << (user ? QStringLiteral("user") : QStringLiteral("assistant"));
        c.contents << (user ? QStringLiteral("Question %1: what does this part mean?").arg(i)
                            : reply.mid(offset, replyChars));
    }
    return c;
}

inline QList<ChatMessage> messagesOf(const Conversation &conversation)
{
    QList<ChatMessage> messages;
    messages.reserve(conversation.roles.size());
    for (qsizetype i = 0; i < conversation.roles.size(); ++i)
        messages.append(ChatMessage(conversation.roles.at(i) == QLatin1String("user") ? ChatMessage::Role::user
                                                                                        : ChatMessage::Role::assistant,
                                    conversation.contents.at(i)));
    return messages;
}

inline Conversation sampleConversation(int count, qsizetype totalChars)
{
    Conversation c;
    const qsizetype average = totalChars / std::max(1, count);
    const QString reply = sampleReply(average * 4);
    for (int i = 0; i < count; ++i) {
        const bool user = i % 2 == 0;
        const qsizetype length = user ? average / 3 : average * 5 / 3;
        const qsizetype offset = (i * 37) % (reply.size() - length);
        c.roles << (user ? QStringLiteral("user") : QStringLiteral("assistant"));
        c.contents << (user ? QStringLiteral("Question %1: ").arg(i) + reply.mid(offset, length - 14)
                            : reply.mid(offset, length));
    }
    return c;
}

// A question and one long reply of `length` characters: short lines (about 58
// characters each, as a model writes a list or code), or, with `oneParagraph`,
// the same text with no line break at all.
inline Conversation longReplyConversation(qsizetype length, bool oneParagraph)
{
    QString reply = sampleReply(length);
    if (oneParagraph)
        reply.replace(u'\n', u' ');
    return {{QStringLiteral("user"), QStringLiteral("assistant")}, {QStringLiteral("Write it all out, please."), reply}};
}

// The conversation the long ones are measured against: a question and a short reply.
inline Conversation twoMessageConversation()
{
    return {{QStringLiteral("user"), QStringLiteral("assistant")},
            {QStringLiteral("Summarise this, please."), sampleReply(600)}};
}

// Runs the event loop until the store has been opened.
inline void waitOpen(SessionStore &store)
{
    QEventLoop loop;
    QObject::connect(&store, &SessionStore::opened, &loop, &QEventLoop::quit);
    if (!store.isOpen())
        loop.exec();
}

// How many records the store file at `path`, closed, holds; -1 when it cannot
// be read. Read as it stands, so that nothing is left beside it.
inline int storedRecordCount(const QString &path)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-reader"));
        db.setDatabaseName(QUrl::fromLocalFile(path).toString() + QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT count(*) FROM ChatSession")) && query.next())
                count = query.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-reader"));
    return count;
}

// A store file at `path` holding one record with `conversation` (empty lists
// for an empty store), written with the store's own code.
inline bool writeStore(const QString &path, const Conversation &conversation)
{
    {
        SessionStore store(path);
        waitOpen(store);
        const auto records = store.takeRecords();
        if (!records || !records->isEmpty())
            return false;  // not a new store of ours
        ChatSession record = store.newRecord();
        record.messages = messagesOf(conversation);
        store.save(record);
    }  // closing the store writes what was asked of it
    return storedRecordCount(path) == 1;
}

inline qsizetype characterCount(const Conversation &conversation)
{
    qsizetype total = 0;
    for (const QString &s : conversation.contents)
        total += s.size();
    return total;
}
