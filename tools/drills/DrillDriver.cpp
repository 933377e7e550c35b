// The drill driver: the program's real view model, store and window against a
// stand-in Ollama server, driven so that scripts can kill it, break its store
// or trap its network traffic. Modes:
//   run <dir>                 keep chatting on <dir>/Hushwing.sqlite until killed
//   check <dir>               open the store after a kill; it must hold the last completed save
//   seed <path> <n> <chars>   write a store holding n messages of about <chars> characters
//   app <store path>          the real window on a given store: two replies and a new chat
//   proxy                     app under proxy variables pointing at a trap; the trap must stay silent
//   proxy-control             a plain Qt client under the same variables (the trap must catch it)
#include "ChatViewModel.h"
#include "DrillCommon.h"
#include "SampleText.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QFile>
#include <cstdarg>
#include <cstdio>
#include <memory>

void say(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

StoredConversation conversationOf(const ChatViewModel &vm)
{
    StoredConversation c;
    for (const ChatMessage &message : vm.messages()) {
        c.roles << roleName(message.role);
        c.contents << message.content;
    }
    return c;
}

void writeExpectation(const QString &dir, const char *which, const StoredConversation &conversation)
{
    QJsonObject object{{QStringLiteral("roles"), QJsonArray::fromStringList(conversation.roles)},
                       {QStringLiteral("contents"), QJsonArray::fromStringList(conversation.contents)}};
    QSaveFile file(dir + QStringLiteral("/expect.") + QLatin1String(which));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(object).toJson(QJsonDocument::Compact)) < 0
        || !file.commit())
        say("error could not write the expectation %s", which);
}

std::optional<StoredConversation> readExpectation(const QString &dir, const char *which)
{
    QFile file(dir + QStringLiteral("/expect.") + QLatin1String(which));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    StoredConversation c;
    for (const auto &v : object.value(QStringLiteral("roles")).toArray())
        c.roles << v.toString();
    for (const auto &v : object.value(QStringLiteral("contents")).toArray())
        c.contents << v.toString();
    return c;
}

QString replyText(int turn, qsizetype length)
{
    return QStringLiteral("Reply %1. ").arg(turn) + sampleReply(length);
}

int main(int argc, char *argv[])
{
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const auto arg = [&](int i) { return i < argc ? QString::fromLocal8Bit(argv[i]) : QString(); };
    // The window modes need a GUI application; the others run without one.
    std::unique_ptr<QCoreApplication> app;
    if (mode == "app" || mode == "proxy")
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Hushwing"));

    if (mode == "run" && argc > 2)
        return runKillWorker(arg(2));
    if (mode == "check" && argc > 2)
        return checkKilledStore(arg(2));
    if (mode == "seed" && argc > 4)
        return seedStore(arg(2), arg(3).toInt(), arg(4).toInt());
    if (mode == "app" && argc > 2)
        return runWindowSession(arg(2));
    if (mode == "proxy")
        return runProxyDrill(QCoreApplication::applicationFilePath());
    if (mode == "proxy-control")
        return runProxyControl();
    std::fprintf(stderr, "usage: %s run|check <dir> | seed <path> <n> <chars> | app <store path> | proxy\n", argv[0]);
    return 2;
}
