// The program's real window on a given store, chatting with the stand-in: two
// replies and a new chat. Used on broken stores (the program must run, the
// file must stay as it was) and under proxy variables (nothing may reach the
// proxy). Exits 0 when every reply arrived whole and the window stayed up.
#include "ChatViewModel.h"
#include "DrillCommon.h"
#include "HushwingApp.h"
#include "OllamaBackend.h"
#include "SessionStore.h"
#include "OllamaStandInServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace {

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

bool replyArrives(ChatViewModel *vm, const QString &question, const QString &expected)
{
    vm->setDraft(question);
    vm->send();
    if (!waitFor([&] { return !vm->isGenerating() && vm->messageModel()->rowCount() > 0; }, 20000))
        return false;
    return vm->messages().last().content == expected;
}

} // namespace

int runWindowSession(const QString &storePath)
{
    HushwingApp::describeApplication();
    const QString reply = replyText(1, 3000);
    OllamaStandInServer server({{QStringLiteral("drill-model")}}, [reply](const QByteArray &) {
        return OllamaStandInServer::Reply{OllamaStandInServer::chatLines(reply, 30), 1000};
    });
    if (!server.start())
        return 2;
    HushwingApp hushwing(storePath, OllamaServer{.baseUrl = server.url()});
    QQuickWindow *window = hushwing.window();
    ChatViewModel *vm = hushwing.viewModel();
    if (!window || !waitFor([&] { return !vm->isRestoring(); }, 10000)) {
        say("FAIL the window did not come up");
        return 1;
    }
    say("window up; restored %d messages", vm->messageModel()->rowCount());
    ModelManager *manager = vm->modelManager();
    if (!waitFor([&] { return !manager->ollamaBackends().isEmpty(); }, 10000)) {
        say("FAIL the stand-in model was not listed");
        return 1;
    }
    manager->select(*manager->ollamaBackends().first());
    const int before = vm->messageModel()->rowCount();
    const bool first = replyArrives(vm, QStringLiteral("First question"), reply);
    const bool counted = vm->messageModel()->rowCount() == before + 2;
    vm->newChat();
    const bool second = replyArrives(vm, QStringLiteral("Second question"), reply);
    const bool ok = first && counted && second && vm->messageModel()->rowCount() == 2 && window->isVisible();
    say("%s two replies in the window (%d chat requests, %d model listings reached the stand-in)",
        ok ? "ok" : "FAIL", server.chatRequests(), server.tagsRequests());
    return ok ? 0 : 1;
}

// A plain Qt client with the default proxy settings, asked for a remote
// address: under the proxy variables it goes to the trap. This shows the trap
// works, so that its silence for the program means something.
int runProxyControl()
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(QStringLiteral("http://hushwing.invalid/"))));
    reply->setParent(&manager);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    loop.exec();
    return 0;
}

namespace {

// Runs this program in `mode` with the proxy variables pointing at a trap;
// returns the trap's connection count, or -1 when the child failed.
int trappedConnections(const QString &self, const QStringList &arguments)
{
    QTcpServer trap;
    int trapped = 0;
    QObject::connect(&trap, &QTcpServer::newConnection, &trap, [&] {
        while (QTcpSocket *socket = trap.nextPendingConnection()) {
            ++trapped;
            socket->close();
            socket->deleteLater();
        }
    });
    if (!trap.listen(QHostAddress::LocalHost, 0))
        return -1;
    const QString proxy = QStringLiteral("http://127.0.0.1:%1").arg(trap.serverPort());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        env.insert(QString::fromLatin1(name), proxy);
    env.remove(QStringLiteral("no_proxy"));
    env.remove(QStringLiteral("NO_PROXY"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QEventLoop loop;
    QObject::connect(&child, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&child, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    child.start(self, arguments);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    QCoreApplication::processEvents();  // connections still queued reach the count
    const bool childOk = child.state() == QProcess::NotRunning && child.exitStatus() == QProcess::NormalExit
                         && child.exitCode() == 0;
    return childOk ? trapped : -1;
}

} // namespace

int runProxyDrill(const QString &self)
{
    const int control = trappedConnections(self, {QStringLiteral("proxy-control")});
    if (control <= 0) {
        say("FAIL the trap did not catch a plain client's request (%d): the drill proves nothing here", control);
        return 1;
    }
    QTemporaryDir dir;
    const int trapped = trappedConnections(self, {QStringLiteral("app"), dir.filePath(QStringLiteral("Hushwing.sqlite"))});
    const bool ok = trapped == 0;
    say("%s with http_proxy, HTTP_PROXY and ALL_PROXY set, a plain client's request reached the trap (%d "
        "connection%s); the program's model listing and chats reached the trap %d times%s",
        ok ? "ok" : "FAIL", control, control == 1 ? "" : "s", std::max(trapped, 0),
        trapped < 0 ? " (the chat did not complete)" : ", all went straight to the loopback stand-in");
    return ok ? 0 : 1;
}
