// A window manager's close ends the program, whatever the window was doing.
// The real window on a real X server (the test runs under Xvfb), closed by a
// WM_DELETE_WINDOW client message sent from an X11 connection of the test's
// own, as a window manager sends it; the program's event loop must end, and
// the conversation must be saved with what had arrived. That holds too when a
// second launch asks for the window just as it closes.
#include "ChatViewModel.h"
#include "HushwingApp.h"
#include "SingleInstance.h"
#include "StoreTestTools.h"
#include "WindowFixtures.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <optional>

// Sends WM_DELETE_WINDOW to `window` (defined below, away from Xlib's macros).
bool closeAsWindowManager(WId window);

namespace {

constexpr int longWait = 10000;

QQuickItem *item(QQuickWindow *window, const char *name)
{
    return window->findChild<QQuickItem *>(QString::fromLatin1(name));
}

// A real mouse click in the middle of the item named `name`.
void click(QQuickWindow *window, const char *name)
{
    QQuickItem *target = item(window, name);
    QVERIFY2(target && target->isVisible(), name);
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

// Runs `then` from the event loop once `window` is asked to close: queued as
// the close arrives, it comes ahead of whatever handling the close queues.
class OnCloseRequest : public QObject
{
public:
    OnCloseRequest(QWindow *window, std::function<void()> then) : m_then(std::move(then))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close)
            QMetaObject::invokeMethod(this, m_then, Qt::QueuedConnection);
        return false;
    }

private:
    std::function<void()> m_then;
};

} // namespace

class TestWindowClose : public QObject
{
    Q_OBJECT
    OllamaStandIn m_ollama;  // every reply streams its first pieces and then stalls

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(m_ollama.listen());
        HushwingApp::describeApplication();
    }

    void aWindowManagersCloseEndsTheProgram_data()
    {
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QByteArray>("openedAfter");  // what is open when the close comes
        // A second launch asks this copy to bring its window to the front, and
        // the request comes in while the close is being handled.
        QTest::addColumn<bool>("activatedAsItCloses");
        QTest::newRow("a stopped reply") << true << QByteArray() << false;
        QTest::newRow("a stalled reply") << false << QByteArray() << false;
        QTest::newRow("a stopped reply, the menu open") << true << QByteArray("moreButton") << false;
        QTest::newRow("a stopped reply, activated as it closes") << true << QByteArray() << true;
    }
    void aWindowManagersCloseEndsTheProgram()
    {
        QFETCH(bool, stopped);
        QFETCH(QByteArray, openedAfter);
        QFETCH(bool, activatedAsItCloses);
        QTemporaryDir dir;
        const QString storePath = dir.filePath(QStringLiteral("Hushwing/Hushwing.sqlite"));
        {
            SingleInstance instance(storePath);
            HushwingApp app(storePath, OllamaServer{.baseUrl = m_ollama.url()});
            QQuickWindow *window = app.window();
            QVERIFY(window && QTest::qWaitForWindowExposed(window));
            instance.setWindow(window);
            ChatViewModel *vm = app.viewModel();
            ModelManager *models = vm->modelManager();
            QTRY_VERIFY_WITH_TIMEOUT(!vm->isRestoring() && !models->ollamaBackends().isEmpty(), longWait);
            models->select(*models->ollamaBackends().first());

            vm->setDraft(QStringLiteral("Hello"));
            click(window, "sendButton");
            QTRY_COMPARE_WITH_TIMEOUT(vm->messages().last().content, QStringLiteral("Hello there"), longWait);
            if (stopped) {
                click(window, "sendButton");  // now the Stop button
                QTRY_VERIFY_WITH_TIMEOUT(!vm->isGenerating(), longWait);
            }
            if (!openedAfter.isEmpty())
                click(window, openedAfter.constData());
            // As a call from the session bus is delivered to this thread.
            std::optional<OnCloseRequest> activation;
            if (activatedAsItCloses)
                activation.emplace(window, [&instance] { instance.Activate({}); });

            // The close is sent once the program's event loop runs, as in the
            // program: a quit ends only a running loop.
            bool sent = false;
            QTimer::singleShot(0, window, [&] { sent = closeAsWindowManager(window->winId()); });
            QTimer watchdog;
            watchdog.setSingleShot(true);
            connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(2); });
            watchdog.start(longWait);
            const int status = QGuiApplication::exec();
            QVERIFY(sent);
            QCOMPARE(status, 0);  // 2: still running when the watchdog gave up
            QVERIFY(!window->isVisible());
            QVERIFY(!vm->isGenerating());
        }
        m_ollama.finishReplies();
        const auto rows = StoreTestTools::readRows(storePath);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().contents, QStringLiteral(R"(["Hello","Hello there"])"));
    }
};

QTEST_MAIN(TestWindowClose)
#include "tst_windowclose.moc"

// Xlib's header defines macros (None, Bool, Status, ...) that clash with Qt's
// names, so it comes after everything that uses Qt.
#include <X11/Xlib.h>

// As a window manager does: a client message of type WM_PROTOCOLS, sent to the
// window, through a connection to the X server other than the program's.
bool closeAsWindowManager(WId window)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window);
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(display, Window(window), False, NoEventMask, &event) != 0;
    XCloseDisplay(display);  // flushes the event out
    return sent;
}
