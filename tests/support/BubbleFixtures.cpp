#include "BubbleFixtures.h"

#include "ModelManager.h"
#include "OllamaBackend.h"
#include "OllamaStandInServer.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQmlEngine>

std::unique_ptr<ReplyStream> TestBackend::streamResponse(const QString &, const ChatHistory &,
                                                         const QString &)
{
    auto stream = std::make_unique<ReplyStream>();
    stream->finish();
    return stream;
}

namespace {
const char *const kSchemes[] = {"http", "https", "mailto", "file", "javascript", "data", "ftp"};
}

BubbleFixtures::BubbleFixtures(QObject *parent) : QObject(parent)
{
    // No link a test activates may reach a real browser or mail program.
    for (const char *scheme : kSchemes)
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "recordUrl");
    m_server.handler = [this](const HttpRequest &request, HttpExchange *exchange) {
        if (request.path != "/api/tags") {
            exchange->respond(404, R"({"error":"not found"})");
            return;
        }
        ++m_tagsRequests;
        if (m_hold)
            m_held.append(exchange);
        else
            respondTags(exchange);
    };
    m_server.listen();
}

BubbleFixtures::~BubbleFixtures()
{
    for (const char *scheme : kSchemes)
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
}

void BubbleFixtures::install(QQmlEngine *engine)
{
    Q_UNUSED(engine);
    static bool registered = false;
    if (std::exchange(registered, true))
        return;
    qmlRegisterSingletonType<BubbleFixtures>("HushwingTest", 1, 0, "BubbleFixtures",
                                             [](QQmlEngine *, QJSEngine *) -> QObject * {
                                                 return new BubbleFixtures;
                                             });
}

QString BubbleFixtures::clipboardText() const { return QGuiApplication::clipboard()->text(); }
void BubbleFixtures::setClipboardText(const QString &text) const { QGuiApplication::clipboard()->setText(text); }

QString BubbleFixtures::temporaryFolder()
{
    m_folders.push_back(std::make_unique<QTemporaryDir>());
    return m_folders.back()->path();
}

QString BubbleFixtures::putEnv(const QString &name, const QString &value) const
{
    const QByteArray key = name.toLocal8Bit();
    const QString before = qEnvironmentVariable(key.constData());
    if (value.isEmpty())
        qunsetenv(key.constData());
    else
        qputenv(key.constData(), value.toLocal8Bit());
    return before;
}

bool BubbleFixtures::isOwnerOnlyFolder(const QString &path) const
{
    const QFileInfo info(path);
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                        | QFile::WriteOther | QFile::ExeOther;
    return info.isDir() && (info.permissions() & ownerOnly) == ownerOnly && !(info.permissions() & others);
}

QObject *BubbleFixtures::makeBackend(const QString &name, const QString &detail, bool available)
{
    std::optional<QString> optionalDetail;
    if (!detail.isEmpty())
        optionalDetail = detail;
    return new TestBackend(ModelInfo("test-" + name, name, ModelSource::ollama, optionalDetail), available, this);
}

QObject *BubbleFixtures::makeModelManager() { return new ModelManager(OllamaServer{.baseUrl = m_server.url()}, this); }

void BubbleFixtures::serveOllamaModels(const QStringList &names)
{
    m_models = names;
    m_tagsBody.clear();
}

void BubbleFixtures::serveOllamaTags(const QString &body) { m_tagsBody = body.toUtf8(); }

void BubbleFixtures::holdTagsReplies(bool hold)
{
    m_hold = hold;
    if (hold)
        return;
    for (const auto &exchange : std::exchange(m_held, {}))
        if (exchange)
            respondTags(exchange);
}

// The tags reply: the body a test gave, as it stands, or else the listed names.
void BubbleFixtures::respondTags(HttpExchange *exchange)
{
    if (m_tagsBody.isEmpty())
        answer(exchange);
    else
        exchange->respond(200, m_tagsBody);
}

void BubbleFixtures::answer(HttpExchange *exchange)
{
    QList<OllamaStandInServer::Model> models;
    for (const QString &name : m_models)
        models.append({name});
    exchange->respond(200, OllamaStandInServer::tagsBody(models));
}
