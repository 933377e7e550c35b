#pragma once

// Shared by the modes of the drill driver.
#include <QString>
#include <QStringList>
#include <optional>

class ChatViewModel;

// A conversation as the store keeps it: parallel lists of roles and texts.
struct StoredConversation
{
    QStringList roles;
    QStringList contents;
    friend bool operator==(const StoredConversation &, const StoredConversation &) = default;
};

StoredConversation conversationOf(const ChatViewModel &vm);

// The expectations the kill drill keeps beside the store: "next" is written
// just before a save starts, "done" once it has completed. A store killed at
// any moment must hold one of the two.
void writeExpectation(const QString &dir, const char *which, const StoredConversation &conversation);
std::optional<StoredConversation> readExpectation(const QString &dir, const char *which);

// The reply the stand-in streams for turn `turn`: `length` characters of
// Markdown-like text, as `lines` lines.
QString replyText(int turn, qsizetype length);

int runKillWorker(const QString &dir);   // "run <dir>"
int checkKilledStore(const QString &dir);  // "check <dir>"
int seedStore(const QString &path, int messages, int charsPerMessage);  // "seed <path> <n> <chars>"
int runWindowSession(const QString &storePath);  // "app <store path>"
int runProxyDrill(const QString &self);  // "proxy"
int runProxyControl();  // "proxy-control": a plain client's request under the proxy variables

void say(const char *format, ...);  // one line on stdout, flushed at once
