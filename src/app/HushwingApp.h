#pragma once

#include <QObject>
#include "OllamaServer.h"

#include <QString>
#include <memory>

class ChatViewModel;
class QQmlApplicationEngine;
class QQuickWindow;
class SessionStore;

// The program, built in one place: the store (opened once at start), the chat
// view model over it, and the one window, which shows that view model.
class HushwingApp : public QObject
{
    Q_OBJECT
public:
    // Starts opening the store at `storePath` (creating its folder), makes the
    // view model, which restores the conversation once the store has been
    // read and offers the models `ollama` lists, and shows the window. The
    // program passes SessionStore::defaultPath() and the default server; tests
    // pass their own. With an empty path no store is opened: the window starts
    // empty, saves nothing, and shows `notice`, a sentence saying why.
    // Closing the window quits the application's event loop; the application
    // no longer quits on its own when its last window closes.
    HushwingApp(const QString &storePath, const OllamaServer &ollama, const QString &notice = {},
                QObject *parent = nullptr);
    ~HushwingApp() override;

    SessionStore *store() const;
    ChatViewModel *viewModel() const;
    QQmlApplicationEngine *engine() const;
    // The window, or null when the window's QML failed to load.
    QQuickWindow *window() const;

    // Sets the application's identity (name "Hushwing", no organisation, so the
    // data folder is ~/.local/share/Hushwing) on an existing application object.
    static void describeApplication();
    // The process entry: hands over to a copy already running, or runs the
    // application loop until the user quits (or a termination signal comes).
    static int main(int argc, char *argv[]);

private:
    std::unique_ptr<SessionStore> m_store;
    std::unique_ptr<ChatViewModel> m_viewModel;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
};
