#include "EngineProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>

EngineProcess::EngineProcess(const QString &program, const QStringList &arguments, QObject *parent)
    : QObject(parent)
{
    // The helper's own diagnostics (llama.cpp's asserts) are not the window's to show.
    m_process.setStandardErrorFile(QProcess::nullDevice());
    // The prebuilt llama.cpp libraries' search path ends in an empty entry,
    // which means the working folder: make that one nobody can write to.
    m_process.setWorkingDirectory(QStringLiteral("/"));
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &EngineProcess::readLines);
    connect(&m_process, &QProcess::finished, this, &EngineProcess::onFinished);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            emit died(QStringLiteral("could not be started (%1)").arg(m_process.errorString()));
    });
    m_process.start(program, arguments);
}

EngineProcess::~EngineProcess()
{
    disconnect(&m_process, nullptr, this, nullptr);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel();  // it ends by itself between two tokens
        if (!m_process.waitForFinished(500)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

void EngineProcess::open(const QString &instructions, const QList<QPair<QString, QString>> &transcript)
{
    QJsonArray messages;
    for (const auto &[role, content] : transcript)
        messages.append(QJsonObject{{QStringLiteral("role"), role}, {QStringLiteral("content"), content}});
    send({{QStringLiteral("open"),
           QJsonObject{{QStringLiteral("instructions"), instructions}, {QStringLiteral("transcript"), messages}}}});
}

void EngineProcess::reply(const QString &prompt)
{
    ++m_replies;
    send({{QStringLiteral("reply"), prompt}});
}

void EngineProcess::stop()
{
    send({{QStringLiteral("stop"), m_replies}});
}

void EngineProcess::send(const QJsonObject &message)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

// All pieces of one read go out as one: a fast reply costs one snapshot per
// read, not one per token.
void EngineProcess::readLines()
{
    m_partial += m_process.readAllStandardOutput();
    QString pieces;
    qsizetype start = 0;
    for (qsizetype end; (end = m_partial.indexOf('\n', start)) >= 0; start = end + 1) {
        const QJsonDocument line = QJsonDocument::fromJson(QByteArrayView(m_partial).sliced(start, end - start).toByteArray());
        if (!line.isObject())
            continue;
        const QJsonObject message = line.object();
        if (const auto text = message.value(QStringLiteral("piece")); text.isString()) {
            pieces += text.toString();
            continue;
        }
        if (!pieces.isEmpty())
            emit piece(std::exchange(pieces, QString()));
        handle(message);
    }
    m_partial.remove(0, start);
    if (!pieces.isEmpty())
        emit piece(pieces);
}

void EngineProcess::handle(const QJsonObject &message)
{
    if (message.contains(QStringLiteral("end"))) {
        Statistics s;
        s.end = message.value(QStringLiteral("end")).toString();
        s.promptTokens = message.value(QStringLiteral("promptTokens")).toInt();
        s.generatedTokens = message.value(QStringLiteral("generatedTokens")).toInt();
        s.contextUsed = message.value(QStringLiteral("contextUsed")).toInt();
        s.promptMs = message.value(QStringLiteral("promptMs")).toDouble();
        s.firstPieceMs = message.value(QStringLiteral("firstPieceMs")).toDouble(-1);
        s.generateMs = message.value(QStringLiteral("generateMs")).toDouble();
        emit ended(s);
    } else if (const auto error = message.value(QStringLiteral("error")); error.isString()) {
        emit failed(error.toString());
    } else if (const auto fatal = message.value(QStringLiteral("fatal")); fatal.isString()) {
        m_refused = true;
        emit refused(fatal.toString());
    } else if (message.contains(QStringLiteral("ready"))) {
        emit ready();
    }
}

void EngineProcess::onFinished(int exitCode, QProcess::ExitStatus status)
{
    readLines();  // what it wrote last
    if (m_refused)
        return;
    if (status == QProcess::CrashExit) {
        // QProcess reports the signal that ended it as the exit code.
        emit died(exitCode == SIGKILL ? QStringLiteral("was stopped by the system (as happens when memory runs out)")
                                      : QStringLiteral("crashed (signal %1)").arg(exitCode));
    } else {
        emit died(QStringLiteral("ended unexpectedly (status %1)").arg(exitCode));
    }
}
