// One conversation through the real window, view model, store and a local
// stand-in for the Ollama server, then a second start on the same store.
#include "AppConfig.h"
#include "ChatViewModel.h"
#include "HushwingApp.h"
#include "OllamaBackend.h"
#include "WindowFixtures.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int longWait = 10000;

// Depth-first search of the accessibility tree for the first element whose
// name satisfies `matches`.
QAccessibleInterface *findAccessible(QAccessibleInterface *node,
                                     const std::function<bool(const QString &)> &matches)
{
    if (!node)
        return nullptr;
    if (matches(node->text(QAccessible::Name)) && !node->state().invisible)
        return node;
    for (int i = 0; i < node->childCount(); ++i) {
        if (auto *found = findAccessible(node->child(i), matches))
            return found;
    }
    return nullptr;
}

QAccessibleInterface *accessibleNamed(QQuickWindow *window, const QString &name)
{
    return findAccessible(QAccessible::queryAccessibleInterface(window),
                          [&](const QString &n) { return n == name; });
}

QAccessibleInterface *accessibleContaining(QQuickWindow *window, const QString &part)
{
    return findAccessible(QAccessible::queryAccessibleInterface(window),
                          [&](const QString &n) { return n.contains(part); });
}

// A real mouse click in the middle of the element the screen reader sees.
void clickAccessible(QQuickWindow *window, QAccessibleInterface *element)
{
    QVERIFY(element);
    const QPoint centre = window->mapFromGlobal(element->rect().center());
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre);
}

QStringList contents(const ChatViewModel *vm)
{
    QStringList texts;
    for (const ChatMessage &message : vm->messages())
        texts << message.content;
    return texts;
}

// The last message's text once the conversation has `count` messages.
QString lastContent(const ChatViewModel *vm, int count)
{
    return vm->messageModel()->rowCount() == count ? vm->messages().last().content : QString();
}

}  // namespace

class EndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void conversation_streamsStopsStartsOverAndIsRestored();

private:
    ChatViewModel *startedViewModel(HushwingApp &app);
    void typeIntoWindow(QQuickWindow *window, const QString &text);

    OllamaStandIn m_ollama;
};

void EndToEnd::initTestCase()
{
    QVERIFY(m_ollama.listen());
    HushwingApp::describeApplication();
}

ChatViewModel *EndToEnd::startedViewModel(HushwingApp &app)
{
    QQuickWindow *window = app.window();
    if (!window || !QTest::qWaitForWindowExposed(window))
        return nullptr;
    listenAsScreenReader(app.engine());  // the window is driven as a screen reader sees it
    ChatViewModel *vm = app.viewModel();
    if (!QTest::qWaitFor([&] { return !vm->isRestoring(); }, longWait))
        return nullptr;
    return vm;
}

void EndToEnd::typeIntoWindow(QQuickWindow *window, const QString &text)
{
    for (QChar c : text)
        QTest::keyClick(window, c.toLatin1());
}

void EndToEnd::conversation_streamsStopsStartsOverAndIsRestored()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString storePath = dir.filePath(QStringLiteral("data/Hushwing/Hushwing.sqlite"));

    {
        HushwingApp app(storePath, OllamaServer{.baseUrl = m_ollama.url()});
        ChatViewModel *vm = startedViewModel(app);
        QVERIFY(vm);
        QQuickWindow *window = app.window();
        QCOMPARE(window->title(), QStringLiteral("Hushwing"));
        QCOMPARE(window->size(), QSize(640, 800));
        QVERIFY(QFileInfo::exists(QFileInfo(storePath).absolutePath()));
        QVERIFY(accessibleNamed(window, QStringLiteral("Hushwing")));

        // Choose the stand-in's model from the menu's model chooser.
        clickAccessible(window, accessibleNamed(window, QStringLiteral("More")));
        QTRY_VERIFY_WITH_TIMEOUT(accessibleNamed(window, QStringLiteral("Models")), longWait);
        clickAccessible(window, accessibleNamed(window, QStringLiteral("Models")));
        QTRY_VERIFY_WITH_TIMEOUT(accessibleNamed(window, QString::fromLatin1(OllamaStandIn::modelName)),
                                 longWait);
        // The menu fades out; clicks go to it until it has gone.
        QObject *menu = window->findChild<QObject *>(QStringLiteral("moreMenu"));
        QVERIFY(menu);
        QTRY_VERIFY_WITH_TIMEOUT(!menu->property("visible").toBool(), longWait);
        clickAccessible(window, accessibleNamed(window, QString::fromLatin1(OllamaStandIn::modelName)));
        QTRY_VERIFY_WITH_TIMEOUT(vm->modelManager()->selected()
                                     && vm->modelManager()->selected()->info().name
                                            == QLatin1String(OllamaStandIn::modelName),
                                 longWait);
        // The header's subtitle follows the selection.
        const QString subtitle = vm->modelManager()->selectedSubtitle();
        QVERIFY(subtitle != AppConfig::modelLabel());
        QVERIFY(accessibleNamed(window, subtitle));
        QObject *popover = window->findChild<QObject *>(QStringLiteral("modelsPopover"));
        QVERIFY(popover);
        QVERIFY(popover->property("opened").toBool());
        QTest::keyClick(window, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!popover->property("visible").toBool(), longWait);

        // Return while an input method is still composing belongs to the input method.
        QObject *field = QGuiApplication::focusObject();
        QVERIFY(field);
        QCOMPARE(field->objectName(), QStringLiteral("messageField"));
        QInputMethodEvent composing(QStringLiteral("にほ"), {});
        QCoreApplication::sendEvent(field, &composing);
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(vm->messageModel()->rowCount(), 0);
        QCOMPARE(vm->draft(), QString());
        QInputMethodEvent committed;
        committed.setCommitString(QString());
        QCoreApplication::sendEvent(field, &committed);

        // First turn: the reply streams in piece by piece.
        QSignalSpy pieces(vm->messageModel(), &QAbstractItemModel::dataChanged);
        typeIntoWindow(window, QStringLiteral("Hello model"));
        QCOMPARE(vm->draft(), QStringLiteral("Hello model"));
        QTest::keyClick(window, Qt::Key_Return);
        QCOMPARE(vm->messageModel()->rowCount(), 2);
        QVERIFY(vm->isGenerating());
        QCOMPARE(vm->draft(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(vm->messages().at(1).content, QStringLiteral("Hello there"), longWait);
        QTRY_VERIFY_WITH_TIMEOUT(accessibleNamed(window, QStringLiteral("Hello there")), longWait);
        QVERIFY(accessibleNamed(window, QStringLiteral("Stop")));
        m_ollama.sendPiece(QStringLiteral("!"));
        QTRY_VERIFY_WITH_TIMEOUT(accessibleNamed(window, QStringLiteral("Hello there!")), longWait);
        QVERIFY(pieces.count() >= 2);  // the opening pieces (perhaps together), then "!"
        m_ollama.finishReplies();
        QTRY_VERIFY_WITH_TIMEOUT(!vm->isGenerating(), longWait);
        QVERIFY(accessibleNamed(window, QStringLiteral("Send")));

        // Second turn: stopped half-way; what arrives later is dropped.
        typeIntoWindow(window, QStringLiteral("Tell me more"));
        QTest::keyClick(window, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(lastContent(vm, 4), QStringLiteral("Hello there"), longWait);
        clickAccessible(window, accessibleNamed(window, QStringLiteral("Stop")));
        QTRY_VERIFY_WITH_TIMEOUT(!vm->isGenerating(), longWait);
        m_ollama.sendPiece(QStringLiteral(" and on"));
        QTest::qWait(200);
        QCOMPARE(contents(vm), QStringList({"Hello model", "Hello there!", "Tell me more", "Hello there"}));
        m_ollama.finishReplies();

        // Start over, then a third turn sent with Ctrl+Return.
        clickAccessible(window, accessibleNamed(window, QStringLiteral("New Chat")));
        QCOMPARE(vm->messageModel()->rowCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(accessibleNamed(window, QStringLiteral("Proofread")), longWait);
        typeIntoWindow(window, QStringLiteral("Third"));
        QTest::keyClick(window, Qt::Key_Return, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(lastContent(vm, 2), QStringLiteral("Hello there"), longWait);
        m_ollama.finishReplies();
        QTRY_VERIFY_WITH_TIMEOUT(!vm->isGenerating(), longWait);
        QCOMPARE(m_ollama.chatRequests(), 3);
    }

    // A second start on the same store shows the saved conversation.
    HushwingApp again(storePath, OllamaServer{.baseUrl = m_ollama.url()});
    ChatViewModel *vm = startedViewModel(again);
    QVERIFY(vm);
    QCOMPARE(contents(vm), QStringList({"Third", "Hello there"}));
    QTRY_VERIFY_WITH_TIMEOUT(accessibleNamed(again.window(), QStringLiteral("Third")), longWait);
    QVERIFY(accessibleNamed(again.window(), QStringLiteral("Hello there")));
    QVERIFY(!accessibleNamed(again.window(), QStringLiteral("Proofread")));
    QCOMPARE(accessibleNamed(again.window(), QStringLiteral("New Chat"))->state().disabled, false);
}

QTEST_MAIN(EndToEnd)
#include "tst_endtoend.moc"
