#include "ChatViewModel.h"
#include "LocalHttpServer.h"
#include "ScriptedLanguageModel.h"
#include "SessionStore.h"
#include "StoreTestTools.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace StoreTestTools;

namespace {

const QString kUnavailable = QStringLiteral("Apple Intelligence unavailable: ");

WritingMode mode(const QString &id)
{
    for (const WritingMode &m : AppConfig::writingModes())
        if (m.id() == id)
            return m;
    return {};
}

// A backend the manager does not know: selecting it leaves nothing selected.
class UnlistedBackend : public ModelBackend
{
public:
    ModelInfo info() const override { return {"unlisted", "Unlisted", ModelSource::ollama, std::nullopt}; }
    bool isAvailable() const override { return true; }
    std::unique_ptr<ReplyStream> streamResponse(const QString &, const ChatHistory &, const QString &) override
    {
        return nullptr;
    }
    void reset() override {}
};

// Model discovery must not reach a real server on this machine.
OllamaServer noOllama()
{
    return OllamaServer{.baseUrl = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(unusedLoopbackPort()))};
}

} // namespace

// The chat view model with the scripted on-device model, a real store file in
// a temporary folder, and the list model watched by QAbstractItemModelTester.
class TestChatViewModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScopedScriptedModel> m_model;
    std::unique_ptr<SessionStore> m_store;
    std::unique_ptr<ChatViewModel> m_vm;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    QString path() const { return m_dir->filePath("Hushwing/Hushwing.sqlite"); }

    ChatViewModel &open()
    {
        m_tester.reset();
        m_vm.reset();
        m_store.reset();
        m_store = std::make_unique<SessionStore>(path());
        [&] { QVERIFY(waitUntilOpen(*m_store)); }();
        m_vm = std::make_unique<ChatViewModel>(m_store.get(), noOllama());
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_vm->messageModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        return *m_vm;
    }

    QStringList contents() const
    {
        QStringList list;
        for (const auto &m : m_vm->messages())
            list << m.content;
        return list;
    }

    // Sends `text` and waits for the reply to end.
    bool sendAndWait(const QString &text)
    {
        m_vm->setDraft(text);
        m_vm->send();
        if (!m_vm->isGenerating())
            return false;
        QSignalSpy ended(m_vm.get(), &ChatViewModel::isGeneratingChanged);
        return ended.wait(10000) && !m_vm->isGenerating();
    }

    // The record on disk, as the next start would see it: the view model and
    // the store are closed first, and closing writes everything asked of it.
    QPair<QString, QString> storedLists()
    {
        m_tester.reset();
        m_vm.reset();
        m_store.reset();
        const auto rows = readRows(path());
        return rows.size() == 1 ? qMakePair(rows[0].roles, rows[0].contents) : qMakePair(QString("rows: %1").arg(rows.size()), QString());
    }

    AppleIntelligenceBackend &onDevice() const { return *m_vm->modelManager()->aiBackend(); }

    // Waits until whatever the model still produced for a stopped reply would
    // have reached the conversation: its request has ended, and a later reply,
    // which the model's one worker thread runs after it, has been shown.
    void waitPastTheStoppedReply()
    {
        QTRY_VERIFY((*m_model)->lastRequest()->outcome != ScriptedRequest::Outcome::running);
        QVERIFY(sendAndWait("next"));
        QCOMPARE(contents().mid(2), QStringList({"next", "Reply to: next"}));
    }

    // Gives the on-device backend a session, so that a reset shows as its loss.
    void primeSession()
    {
        auto stream = onDevice().streamResponse("prime", {}, "prime");
        QSignalSpy done(stream.get(), &ReplyStream::finished);
        QVERIFY(done.wait(10000));
        QVERIFY(!sessionDropped());
    }

    // Whether the on-device backend has let go of the session of the last reply.
    bool sessionDropped() const
    {
        const auto last = (*m_model)->lastRequest();
        return last && (*m_model)->hasEndedSession(last->sessionId);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_model = std::make_unique<ScopedScriptedModel>();
        open();
    }

    void cleanup()
    {
        m_tester.reset();
        m_vm.reset();
        m_store.reset();
        m_model.reset();
        m_dir.reset();
    }

    void firstStartStoresOneEmptyRecord()
    {
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);
        QVERIFY(!m_vm->isGenerating());
        QCOMPARE(storedLists(), qMakePair(QString("[]"), QString("[]")));
    }

    void blankDraftsSendNothing_data()
    {
        QTest::addColumn<QString>("draft");
        QTest::newRow("empty") << "";
        QTest::newRow("spaces") << "   ";
        QTest::newRow("line feeds only") << "\n\n";
        QTest::newRow("CR LF, tab, VT, FF") << "\r\n\t\v\f";
        QTest::newRow("next line") << QString(QChar(0x85));
        QTest::newRow("line and paragraph separators") << QString(QChar(0x2028)) + QChar(0x2029);
        QTest::newRow("no-break, ideographic and em spaces") << QString(QChar(0xA0)) + QChar(0x3000) + QChar(0x2003);
    }
    void blankDraftsSendNothing()
    {
        QFETCH(QString, draft);
        m_vm->setDraft(draft);
        QSignalSpy anyChange(m_vm.get(), &ChatViewModel::draftChanged);
        m_vm->send();
        QCOMPARE(m_vm->draft(), draft);
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);
        QVERIFY(!m_vm->isGenerating());
        QVERIFY(!m_vm->availabilityError());
        QCOMPARE(anyChange.count(), 0);
        QCOMPARE((*m_model)->requestCount(), 0);
    }

    void draftIsTrimmedAtBothEndsOnly_data()
    {
        QTest::addColumn<QString>("draft");
        QTest::addColumn<QString>("sent");
        QTest::newRow("spaces and a line feed") << "  word \n" << "word";
        QTest::newRow("unicode breaks around") << QString(QChar(0x2028)) + QChar(0x85) + " hi  there" + QChar(0x3000) + QChar(0x2029) << "hi  there";
        QTest::newRow("inner line breaks kept") << "\ta\n\nb\r\n" << "a\n\nb";
        QTest::newRow("zero-width space is text") << QString(QChar(0x200B)) + "x" << QString(QChar(0x200B)) + "x";
    }
    void draftIsTrimmedAtBothEndsOnly()
    {
        QFETCH(QString, draft);
        QFETCH(QString, sent);
        QVERIFY(sendAndWait(draft));
        QCOMPARE(m_vm->draft(), QString());
        QCOMPARE(m_vm->messages().first().content, sent);
        QCOMPARE((*m_model)->lastRequest()->prompt, sent);
    }

    void firstSendAppendsUserAndEmptyReplyThenStreams()
    {
        (*m_model)->enqueue(ScriptedReply::stalling({}, {"Hel", "Hello", "Hello there"}));
        QSignalSpy rows(m_vm->messageModel(), &QAbstractItemModel::dataChanged);
        QStringList signalled;  // the reply's text each time its row was signalled
        connect(m_vm->messageModel(), &QAbstractItemModel::dataChanged, this, [&](const QModelIndex &at) {
            signalled << at.data(MessageListModel::ContentRole).toString();
        });
        m_vm->setDraft("Say hello");
        m_vm->send();
        QCOMPARE(m_vm->messageModel()->rowCount(), 2);
        QCOMPARE(m_vm->messages()[0].role, ChatMessage::Role::user);
        QCOMPARE(m_vm->messages()[1].role, ChatMessage::Role::assistant);
        QCOMPARE(contents(), QStringList({"Say hello", ""}));
        QVERIFY(m_vm->isGenerating());

        // A send while the reply runs changes nothing.
        m_vm->setDraft("again");
        m_vm->send();
        QCOMPARE(m_vm->draft(), QString("again"));
        QCOMPARE(m_vm->messageModel()->rowCount(), 2);

        QTRY_COMPARE((*m_model)->stalledCount(), 1);
        QVERIFY((*m_model)->lastRequest()->transcript.isEmpty());
        (*m_model)->release();
        QTRY_VERIFY(!m_vm->isGenerating());
        QCOMPARE(contents(), QStringList({"Say hello", "Hello there"}));
        // How many of the three snapshots are signalled depends on how they fall
        // into frames; the newest text is always signalled, and last.
        QVERIFY(!signalled.isEmpty() && signalled.size() <= 3);
        QCOMPARE(signalled.last(), QString("Hello there"));
        for (const auto &args : rows) {
            QCOMPARE(args[0].value<QModelIndex>().row(), 1);
            QCOMPARE(args[1].value<QModelIndex>().row(), 1);
            QCOMPARE(args[2].value<QList<int>>(), QList<int>{MessageListModel::ContentRole});
        }
        QCOMPARE(m_vm->messageModel()->data(m_vm->messageModel()->index(1), MessageListModel::RoleRole), QVariant("assistant"));
        QCOMPARE(storedLists(), qMakePair(QString(R"(["user","assistant"])"), QString(R"(["Say hello","Hello there"])")));
    }

    void stopBeforeFirstElementSavesAnEmptyReply()
    {
        QSignalSpy generating(m_vm.get(), &ChatViewModel::isGeneratingChanged);
        m_vm->stop();  // nothing running: nothing happens
        QCOMPARE(generating.count(), 0);

        (*m_model)->enqueue(ScriptedReply::stalling({}, {"too late"}));
        m_vm->setDraft("q");
        m_vm->send();
        QTRY_COMPARE((*m_model)->stalledCount(), 1);
        m_vm->stop();
        QVERIFY(m_vm->isGenerating());  // the task ends by itself, shortly after
        QTRY_VERIFY(!m_vm->isGenerating());
        QCOMPARE(contents(), QStringList({"q", ""}));
        QCOMPARE(storedLists(), qMakePair(QString(R"(["user","assistant"])"), QString(R"(["q",""])")));
    }

    void stopKeepsThePartialReplyAndDropsTheRest()
    {
        (*m_model)->enqueue(ScriptedReply::stalling({"par"}, {"partial and more"}));
        m_vm->setDraft("q");
        m_vm->send();
        QTRY_COMPARE(contents().value(1), QString("par"));
        m_vm->stop();
        (*m_model)->release();
        QTRY_VERIFY(!m_vm->isGenerating());
        waitPastTheStoppedReply();
        QCOMPARE(contents().value(1), QString("par"));
        QCOMPARE(storedLists().second, QString(R"(["q","par","next","Reply to: next"])"));
    }

    void failureAfterPartialReplyShowsTheErrorAndResets()
    {
        (*m_model)->enqueue(ScriptedReply::failing({"partial"}, "The model stopped working."));
        QVERIFY(sendAndWait("q"));
        QCOMPARE(contents(), QStringList({"q", "Error: The model stopped working."}));
        QVERIFY(sessionDropped());

        // The next turn starts a fresh session; the error stays in the conversation.
        QVERIFY(sendAndWait("again"));
        QVERIFY((*m_model)->lastRequest()->transcript.isEmpty());
        QCOMPARE(m_vm->messageModel()->rowCount(), 4);
        QCOMPARE(storedLists().second, QString(R"(["q","Error: The model stopped working.","again","Reply to: again"])"));
    }

    void refusalsKeepTheDraftAndTheConversation()
    {
        QSignalSpy errorChanged(m_vm.get(), &ChatViewModel::availabilityErrorChanged);
        (*m_model)->setUnavailable(UnavailableReason::modelNotReady);
        m_vm->setDraft("hello");
        m_vm->send();
        QCOMPARE(m_vm->availabilityError(), kUnavailable + "modelNotReady");
        m_vm->send();  // the same text again: no notification
        QCOMPARE(errorChanged.count(), 1);

        m_model.reset();
        SystemLanguageModel::installEngine(nullptr);  // a build with no engine at all
        m_vm->send();
        QCOMPARE(m_vm->availabilityError(), kUnavailable + "deviceNotEligible");
        QCOMPARE(m_vm->draft(), QString("hello"));
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);

        UnlistedBackend unlisted;
        m_vm->modelManager()->select(unlisted);
        m_vm->send();
        QCOMPARE(m_vm->availabilityError(), QString("No model selected."));
        QCOMPARE(m_vm->draft(), QString("hello"));
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);

        // A successful send leaves the last refusal in place.
        m_model = std::make_unique<ScopedScriptedModel>();
        m_vm->modelManager()->select(onDevice());
        QVERIFY(sendAndWait("hello"));
        QCOMPARE(m_vm->availabilityError(), QString("No model selected."));
        m_vm->dismissAvailabilityError();
        QVERIFY(!m_vm->availabilityError());
        const int before = int(errorChanged.count());
        m_vm->dismissAvailabilityError();
        QCOMPARE(errorChanged.count(), before);
    }

    void modesToggleOnlyBeforeTheFirstMessageAndResetTheBackend()
    {
        QSignalSpy modeChanged(m_vm.get(), &ChatViewModel::activeModeChanged);
        QCOMPARE(m_vm->fullSystemPrompt(), AppConfig::defaultSystemPrompt());

        primeSession();
        m_vm->setMode(mode("Summarise"));
        QCOMPARE(m_vm->activeMode()->id(), QString("Summarise"));
        QVERIFY(sessionDropped());

        primeSession();
        m_vm->setMode("Summarise");  // tapping the active chip turns it off
        QVERIFY(!m_vm->activeMode());
        QVERIFY(sessionDropped());

        m_vm->setMode("Summarise");
        primeSession();
        m_vm->setMode("Rewrite");
        QCOMPARE(m_vm->activeModeID(), QString("Rewrite"));
        QVERIFY(sessionDropped());
        QCOMPARE(modeChanged.count(), 4);
        QCOMPARE(m_vm->fullSystemPrompt(), AppConfig::defaultSystemPrompt() + "\n\n" + mode("Rewrite").systemPrompt);

        m_vm->setMode("No Such Mode");
        QCOMPARE(m_vm->activeModeID(), QString("Rewrite"));

        QVERIFY(sendAndWait("text"));
        QCOMPARE((*m_model)->lastRequest()->instructions,
                 AppConfig::defaultSystemPrompt() + "\n\n" + mode("Rewrite").systemPrompt);
        const int changes = int(modeChanged.count());
        m_vm->setMode("Proofread");  // the conversation has begun: nothing at all
        QCOMPARE(m_vm->activeModeID(), QString("Rewrite"));
        QVERIFY(!sessionDropped());
        QCOMPARE(modeChanged.count(), changes);

        m_vm->clearMode();  // works on a conversation with messages
        QVERIFY(!m_vm->hasActiveMode());
        QVERIFY(sessionDropped());
        QCOMPARE(m_vm->fullSystemPrompt(), AppConfig::defaultSystemPrompt());
        m_vm->clearMode();  // writing the mode always notifies
        QCOMPARE(modeChanged.count(), changes + 2);
    }

    void proofreadPromptReachesTheModel()
    {
        m_vm->setMode("Proofread");
        QVERIFY(sendAndWait("teh text"));
        QCOMPARE((*m_model)->lastRequest()->instructions,
                 AppConfig::defaultSystemPrompt() + "\n\n" + mode("Proofread").systemPrompt);
    }

    void restartRestoresTheConversationWithoutTheMode()
    {
        m_vm->setMode("Explain Simply");
        (*m_model)->enqueue(QStringList{"An answer"});
        QVERIFY(sendAndWait("A question"));
        QTRY_VERIFY(readRows(path()).value(0).contents.contains("An answer"));
        const double firstSave = readRows(path())[0].updatedAt.toDouble();
        QTest::qWait(5);
        QVERIFY(sendAndWait("Another"));
        QTRY_VERIFY(readRows(path()).value(0).contents.contains("Reply to: Another"));
        QVERIFY(readRows(path())[0].updatedAt.toDouble() > firstSave);

        open();
        QCOMPARE(contents(), QStringList({"A question", "An answer", "Another", "Reply to: Another"}));
        QCOMPARE(m_vm->messages()[2].role, ChatMessage::Role::user);
        QCOMPARE(m_vm->messages()[3].role, ChatMessage::Role::assistant);
        QVERIFY(!m_vm->hasActiveMode());
        QCOMPARE(readRows(path()).size(), 1);
    }

    void newestRecordIsUsedAndOthersGo()
    {
        m_tester.reset();
        m_vm.reset();
        const QDateTime t = QDateTime::currentDateTimeUtc();
        for (int i : {1, 3, 2}) {
            ChatSession record = makeRecord(*m_store, {"user"}, {QString("record %1").arg(i)});
            record.updatedAt = t.addSecs(i);
            m_store->save(record);
        }
        QTRY_COMPARE(readRows(path()).size(), 4);  // with the empty first-start record

        open();
        QCOMPARE(m_vm->messages().size(), 1);
        QCOMPARE(m_vm->messages()[0].content, QString("record 3"));
        QTRY_COMPARE(readRows(path()).size(), 1);
        QVERIFY(readRows(path())[0].contents.contains("record 3"));
    }

    void storedListsAreReadLeniently_data()
    {
        QTest::addColumn<QStringList>("roles");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QList<ChatMessage::Role>>("expected");
        using R = ChatMessage::Role;
        QTest::newRow("more roles than contents") << QStringList{"user", "assistant", "user"} << QStringList{"a", "b"}
                                                  << QList<R>{R::user, R::assistant};
        QTest::newRow("more contents than roles") << QStringList{"assistant"} << QStringList{"a", "b"}
                                                  << QList<R>{R::assistant};
        QTest::newRow("unknown role strings") << QStringList{"", "User", "system", "user"}
                                              << QStringList{"w", "x", "y", "z"}
                                              << QList<R>{R::assistant, R::assistant, R::assistant, R::user};
    }
    void storedListsAreReadLeniently()
    {
        QFETCH(QStringList, roles);
        QFETCH(QStringList, stored);
        QFETCH(QList<ChatMessage::Role>, expected);
        const auto asJson = [](const QStringList &list) {
            return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(list)).toJson(QJsonDocument::Compact));
        };
        m_tester.reset();
        m_vm.reset();
        m_store.reset();
        QVERIFY(execute(path(), {QString("UPDATE ChatSession SET roles = '%1', contents = '%2'")
                                     .arg(asJson(roles), asJson(stored))}));

        open();
        QCOMPARE(m_vm->messages().size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(m_vm->messages()[i].role, expected[i]);
            QCOMPARE(m_vm->messages()[i].content, stored[i]);
        }
    }

    void unreadableFileIsNeverWritten()
    {
        cleanup();
        m_dir = std::make_unique<QTemporaryDir>();
        m_model = std::make_unique<ScopedScriptedModel>();
        QVERIFY(QDir().mkpath(QFileInfo(path()).absolutePath()));
        QVERIFY(execute(path(), {"CREATE TABLE Journal (entry TEXT)", "INSERT INTO Journal VALUES ('private')"}));
        const QByteArray before = fileBytes(path());

        open();
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);
        QVERIFY(sendAndWait("hello"));
        QCOMPARE(m_vm->messageModel()->rowCount(), 2);  // the conversation runs in memory
        m_vm->newChat();
        emitAboutToQuit();
        m_vm.reset();
        m_store.reset();
        QCOMPARE(fileBytes(path()), before);
    }

    void newChatDuringAReplyEmptiesEverything()
    {
        m_vm->setMode("Summarise");
        (*m_model)->enqueue(ScriptedReply::stalling({"part"}, {"partial"}));
        m_vm->setDraft("long text");
        m_vm->send();
        QTRY_COMPARE(contents().value(1), QString("part"));
        (*m_model)->setUnavailable(UnavailableReason::modelNotReady);
        m_vm->send();
        m_vm->setDraft("kept");
        m_vm->send();  // ignored while generating: no refusal either
        QVERIFY(!m_vm->availabilityError());
        m_vm->setAvailabilityError(QString("earlier"));

        QSignalSpy emptied(m_vm->messageModel(), &QAbstractItemModel::modelReset);
        m_vm->newChat();
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);
        QCOMPARE(emptied.count(), 1);
        QVERIFY(!m_vm->hasActiveMode());
        QVERIFY(!m_vm->availabilityError());
        QVERIFY(sessionDropped());
        QCOMPARE(m_vm->draft(), QString("kept"));
        QVERIFY(m_vm->isGenerating());
        (*m_model)->releaseAll();
        QTRY_VERIFY(!m_vm->isGenerating());
        QCOMPARE(m_vm->messageModel()->rowCount(), 0);
        QCOMPARE(storedLists(), qMakePair(QString("[]"), QString("[]")));
    }

    void quitDuringAReplySavesWhatArrived()
    {
        (*m_model)->enqueue(ScriptedReply::stalling({"Half an"}, {"Half an answer"}));
        m_vm->setDraft("q");
        m_vm->send();
        QTRY_COMPARE(contents().value(1), QString("Half an"));
        emitAboutToQuit();
        // Synchronously: the program ends right after this signal, and the
        // store's closing waits for the write.
        QVERIFY(!m_vm->isGenerating());
        m_store.reset();
        QCOMPARE(readRows(path()).value(0).contents, QString(R"(["q","Half an"])"));
        (*m_model)->releaseAll();
        waitPastTheStoppedReply();
        QCOMPARE(contents().value(1), QString("Half an"));
    }

    // A conversation longer than the store's first part shows its first
    // messages at once, the later texts when read. Meanwhile a send waits for
    // the whole history and nothing is saved; a new chat drops what comes.
    // When the later texts turn out unreadable, the window ends empty, as with
    // any unreadable store, the message waits in the draft and nothing is written.
    void longConversationIsRestoredInTwoSteps_data()
    {
        QTest::addColumn<QString>("newChat");  // when a new chat is started, if at all
        QTest::addColumn<bool>("damaged");
        QTest::newRow("a send waits for the whole conversation") << QString() << false;
        QTest::newRow("a new chat drops the rest") << QString("after the first part") << false;
        QTest::newRow("a new chat before the store is read") << QString("before") << false;
        QTest::newRow("the rest is unreadable") << QString() << true;
    }
    void longConversationIsRestoredInTwoSteps()
    {
        QFETCH(QString, newChat);
        QFETCH(bool, damaged);
        const bool newChatFirst = newChat == "before";
        const qsizetype count = SessionStore::firstPart * 2 + 1;
        QStringList roles, stored;
        for (qsizetype i = 0; i < count; ++i) {
            roles << (i % 2 ? "assistant" : "user");
            stored << QString("message %1").arg(i);
        }
        if (damaged)
            stored.last() = "bad \\x escape";  // written as is below
        ChatSession record = makeRecord(*m_store, roles, stored);
        record.updatedAt = QDateTime::currentDateTimeUtc().addSecs(60);  // newer than the record in use
        m_tester.reset();
        m_vm.reset();
        m_store->save(record);
        m_store.reset();
        if (damaged)  // the JSON escape of the backslash undone: an escape JSON does not have
            QVERIFY(execute(path(), {"UPDATE ChatSession SET contents = replace(contents, '\\\\x', '\\x')"}));
        const QByteArray before = fileBytes(path());

        m_store = std::make_unique<SessionStore>(path());
        // Made as the program does, before the store has been read; a message
        // sent meanwhile waits for the whole conversation.
        m_vm = std::make_unique<ChatViewModel>(m_store.get(), noOllama());
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_vm->messageModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(m_vm->isRestoring());
        if (newChatFirst) {
            m_vm->newChat();
        } else if (newChat.isEmpty()) {
            m_vm->setDraft("More");
            m_vm->send();
        }
        bool seenFirstPart = false;
        connect(m_store.get(), &SessionStore::opened, this, [&] {
            QVERIFY(m_store->isRestoring());
            seenFirstPart = true;
            if (newChatFirst) {
                QVERIFY(!m_vm->isRestoring());
                QCOMPARE(m_vm->messageModel()->rowCount(), 0);
                return;
            }
            QVERIFY(m_vm->isRestoring());
            QCOMPARE(m_vm->messageModel()->rowCount(), count);
            QCOMPARE(contents().mid(0, SessionStore::firstPart), stored.mid(0, SessionStore::firstPart));
            QCOMPARE(contents().at(SessionStore::firstPart), QString());
            if (newChat.isEmpty())
                QVERIFY(!m_vm->isGenerating());
            else
                m_vm->newChat();
        });
        QTRY_VERIFY(seenFirstPart);
        QTRY_VERIFY(!m_store->isRestoring());
        if (damaged) {
            QCOMPARE(m_vm->messageModel()->rowCount(), 0);
            QCOMPARE(m_vm->draft(), QString("More"));
            m_vm->send();
            QTRY_VERIFY(!m_vm->isGenerating() && m_vm->messageModel()->rowCount() == 2);
            m_tester.reset();
            m_vm.reset();
            m_store.reset();
            QCOMPARE(fileBytes(path()), before);
            return;
        }
        if (!newChat.isEmpty()) {
            QCOMPARE(m_vm->messageModel()->rowCount(), 0);
            QCOMPARE(storedLists(), qMakePair(QString("[]"), QString("[]")));
            return;
        }
        QTRY_VERIFY(!m_vm->isGenerating() && m_vm->messageModel()->rowCount() == count + 2);
        QCOMPARE(contents().mid(0, count), stored);
        QCOMPARE(contents().mid(count), QStringList({"More", "Reply to: More"}));
        QCOMPARE(storedLists().second.count(QLatin1String("message ")), count);
    }

    void unchangedValuesNotifyNobody()
    {
        QSignalSpy draft(m_vm.get(), &ChatViewModel::draftChanged);
        QSignalSpy generating(m_vm.get(), &ChatViewModel::isGeneratingChanged);
        QSignalSpy error(m_vm.get(), &ChatViewModel::availabilityErrorChanged);
        m_vm->setDraft("");
        m_vm->setAvailabilityError(std::nullopt);
        m_vm->dismissAvailabilityError();
        m_vm->stop();
        QCOMPARE(draft.count() + generating.count() + error.count(), 0);
        m_vm->setDraft("a");
        m_vm->setDraft("a");
        m_vm->setAvailabilityError(QString("x"));
        m_vm->setAvailabilityError(QString("x"));
        QCOMPARE(draft.count(), 1);
        QCOMPARE(error.count(), 1);
        QVERIFY(sendAndWait("a"));
        QCOMPARE(generating.count(), 2);
        QCOMPARE(draft.count(), 2);  // "a", then "" when sent
    }
};

QTEST_MAIN(TestChatViewModel)
#include "tst_chatviewmodel.moc"
