// hushwing-standin: the stand-in Ollama server as a program, for the screenshot
// tool and for trying Hushwing by hand without a model. It lists one installed
// model and answers every chat with the same short reply, a word every 30 ms;
// with --stall, a reply sends its first word and then nothing for ten minutes
// (a model that hangs, for trying Stop and closing the window meanwhile).
//   hushwing-standin [--port 11434] [--stall]
#include "OllamaStandInServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char *const modelName = "llama3.2:3b";

OllamaStandInServer::Reply wordByWord(const QString &text)
{
    OllamaStandInServer::Reply reply;
    const QStringList words = text.split(u' ');
    for (qsizetype i = 0; i < words.size(); ++i)
        reply.lines.append(OllamaStandInServer::chatLine(i == 0 ? words[i] : u' ' + words[i], false,
                                                         QString::fromLatin1(modelName)));
    reply.lines.append(OllamaStandInServer::chatLine(QString(), true, QString::fromLatin1(modelName)));
    reply.intervalUs = 30000;
    return reply;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A stand-in for a local Ollama server on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("The port to listen on (default 11434)."),
                                        QStringLiteral("port"), QStringLiteral("11434"));
    parser.addOption(portOption);
    const QCommandLineOption stallOption(QStringLiteral("stall"),
                                         QStringLiteral("Stall every reply after its first word."));
    parser.addOption(stallOption);
    parser.process(app);
    bool valid = false;
    const uint port = parser.value(portOption).toUInt(&valid);
    if (!valid || port == 0 || port > 65535) {
        std::fprintf(stderr, "hushwing-standin: not a port: %s\n", qPrintable(parser.value(portOption)));
        return 2;
    }

    const QString reply = QString::fromUtf8(
        "Here is the corrected sentence:\n\n"
        "**\"Their going to the market tomorrow.\"** \u2192 **\"They're going to the market tomorrow.\"**\n\n"
        "Changes made: *their* \u2192 *they're* (the contraction of \"they are\").");
    const bool stall = parser.isSet(stallOption);
    OllamaStandInServer server({{QString::fromLatin1(modelName), 2019393189}}, [reply, stall](const QByteArray &) {
        OllamaStandInServer::Reply words = wordByWord(reply);
        if (stall)
            words.intervalUs = 600 * 1000 * 1000;  // the second word is ten minutes away
        return words;
    });
    if (!server.start(quint16(port), OllamaStandInServer::Thread::caller)) {
        std::fprintf(stderr, "hushwing-standin: cannot listen on 127.0.0.1:%u (taken?)\n", port);
        return 1;
    }
    std::printf("hushwing-standin: listening on %s\n", qPrintable(server.url().toString()));
    std::fflush(stdout);
    return app.exec();
}
