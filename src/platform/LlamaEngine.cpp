#include "LlamaEngine.h"

#include "ModelFolder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <algorithm>

namespace {

LanguageModelError failure(const QString &sentence)
{
    return {LanguageModelError::Kind::generationFailed, sentence};
}

QString quoted(const QString &name)
{
    return QStringLiteral("\u201C%1\u201D").arg(name);
}

} // namespace

LlamaEngine::LlamaEngine() : m_threads(defaultThreadCount()) {}

LlamaEngine::~LlamaEngine()
{
    delete m_helper.data();
}

QString LlamaEngine::helperProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/hushwing/hushwing-engine");
}

int LlamaEngine::defaultThreadCount()
{
    return std::clamp(QThread::idealThreadCount() - 1, 1, 8);
}

Availability LlamaEngine::availability() const
{
    return ModelChoice::current(ModelFolder::path()) ? Availability::availableNow()
                                                     : Availability::unavailable(UnavailableReason::modelNotReady);
}

void LlamaEngine::start(const Request &request)
{
    const auto file = ModelChoice::current(ModelFolder::path());
    if (!file) {
        fail(request, failure(QStringLiteral("The Models folder (%1) holds no model file.").arg(ModelFolder::path())));
        return;
    }
    if (!ensureHelper(*file, request))
        return;
    m_running = request;
    m_text.clear();
    m_stopConnection = QObject::connect(request.response.get(), &LanguageModelResponse::stopRequested,
                                        m_helper.data(), &EngineProcess::stop);
    if (m_helperSession != request.session->id) {
        QList<QPair<QString, QString>> transcript;
        for (const TranscriptEntry &entry : std::as_const(request.session->transcript))
            transcript.append({entry.kind == TranscriptEntry::Kind::prompt ? QStringLiteral("user")
                                                                            : QStringLiteral("assistant"),
                               entry.text});
        m_helper->open(request.session->instructions, transcript);
        m_helperSession = request.session->id;
    }
    m_helper->reply(request.prompt);
}

bool LlamaEngine::ensureHelper(const ModelFile &file, const Request &request)
{
    QStringList arguments{file.path, QStringLiteral("--threads"), QString::number(m_threads),
                          QStringLiteral("--context"), QString::number(m_contextLength)};
    if (m_seed)
        arguments << QStringLiteral("--seed") << QString::number(*m_seed);
    if (m_helper && m_helperFile == file && m_helperArguments == arguments)
        return true;
    dropHelper();
    const QString program = helperProgram();
    if (!QFileInfo(program).isExecutable()) {
        fail(request, failure(QStringLiteral("The on-device engine (%1) is missing from this installation.")
                                  .arg(QFileInfo(program).absoluteFilePath())));
        return false;
    }
    // Parented to the application, so that it ends with it.
    m_helper = new EngineProcess(program, arguments, QCoreApplication::instance());
    m_helperFile = file;
    m_helperArguments = arguments;
    m_helperSession = 0;
    connectHelper();
    return true;
}

void LlamaEngine::connectHelper()
{
    EngineProcess *helper = m_helper.data();
    QObject::connect(helper, &EngineProcess::piece, helper, [this](const QString &piece) {
        if (!m_running)
            return;
        m_text += piece;
        m_running->response->deliver(m_text);
    });
    QObject::connect(helper, &EngineProcess::ended, helper, [this](const Statistics &statistics) {
        m_last = statistics;
        endRunning(std::nullopt);
    });
    QObject::connect(helper, &EngineProcess::failed, helper,
                     [this](const QString &sentence) { endRunning(failure(sentence)); });
    QObject::connect(helper, &EngineProcess::refused, helper, [this](const QString &sentence) {
        dropHelper();
        endRunning(failure(sentence));
    });
    QObject::connect(helper, &EngineProcess::died, helper, [this](const QString &how) {
        const QString name = quoted(m_helperFile.name);
        dropHelper();
        endRunning(failure(QStringLiteral("The on-device engine %1 while running the model file %2. "
                                          "The file may be damaged, or too large for this computer.")
                               .arg(how, name)));
    });
}

// The helper goes; it ends when its input closes (see EngineProcess).
void LlamaEngine::dropHelper()
{
    if (m_helper) {
        m_helper->disconnect();
        m_helper->deleteLater();
    }
    m_helper.clear();
    m_helperSession = 0;
}

void LlamaEngine::endRunning(const std::optional<LanguageModelError> &error)
{
    if (!m_running)
        return;
    const Request request = *std::exchange(m_running, std::nullopt);
    QObject::disconnect(m_stopConnection);
    if (error)
        fail(request, *error);
    else
        complete(request);
}
