#include "ChatViewModel.h"
#include "ChatViewModelPrivate.h"

#include "DraftText.h"
#include "ModelBackend.h"
#include "ReplyStream.h"
#include "SessionStore.h"

#include <QCoreApplication>

ChatViewModel::ChatViewModel(SessionStore *store, const OllamaServer &ollama, QObject *parent)
    : QObject(parent), d(new Private)
{
    d->model = new MessageListModel(this);
    d->manager = new ModelManager(ollama, this);
    d->store = store;
    // A reply still running at quit is stopped and saved with what it has.
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &ChatViewModel::stopAndSaveForQuit);
    if (!store)
        return;
    // The store is read on its own thread while the window loads.
    d->restoring = true;
    if (store->isOpen())
        loadSession();
    else
        connect(store, &SessionStore::opened, this, &ChatViewModel::loadSession, Qt::SingleShotConnection);
}

ChatViewModel::~ChatViewModel()
{
    stopAndSaveForQuit();
}

const QList<ChatMessage> &ChatViewModel::messages() const { return d->model->messages(); }
MessageListModel *ChatViewModel::messageModel() const { return d->model; }
bool ChatViewModel::isRestoring() const { return d->restoring; }
QString ChatViewModel::draft() const { return d->draft; }
bool ChatViewModel::isGenerating() const { return d->isGenerating; }
std::optional<QString> ChatViewModel::availabilityError() const { return d->availabilityError; }
std::optional<WritingMode> ChatViewModel::activeMode() const { return d->activeMode; }
ModelManager *ChatViewModel::modelManager() const { return d->manager; }

void ChatViewModel::setDraft(const QString &draft)
{
    if (draft == d->draft)
        return;
    d->draft = draft;
    emit draftChanged();
}

void ChatViewModel::setIsGenerating(bool value)
{
    if (value == d->isGenerating)
        return;
    d->isGenerating = value;
    emit isGeneratingChanged();
}

void ChatViewModel::setAvailabilityError(const std::optional<QString> &value)
{
    if (value == d->availabilityError)
        return;
    d->availabilityError = value;
    emit availabilityErrorChanged();
}

void ChatViewModel::dismissAvailabilityError() { setAvailabilityError(std::nullopt); }

// Writing the list always notifies (the model is reset), even when it stays empty.
void ChatViewModel::setMessages(const QList<ChatMessage> &messages)
{
    d->model->setMessages(messages);
}

QString ChatViewModel::fullSystemPrompt() const
{
    if (!d->activeMode)
        return AppConfig::defaultSystemPrompt();
    return AppConfig::defaultSystemPrompt() + QStringLiteral("\n\n") + d->activeMode->systemPrompt;
}

void ChatViewModel::send()
{
    const QString text = DraftText::trimmedForSending(d->draft);
    if (text.isEmpty() || d->isGenerating)
        return;
    if (d->restoring) {  // the history is not whole yet
        d->sendWhenRestored = true;
        return;
    }
    const std::shared_ptr<ModelBackend> backend = d->manager->selected();
    if (!backend) {
        setAvailabilityError(QStringLiteral("No model selected."));
        return;
    }
    // An unavailable on-device model, or an Ollama model that another computer
    // runs: refused here, the draft kept. The platform's reason is a bare word
    // and gets a sentence around it; the Ollama one is a sentence already.
    if (const QString reason = backend->unavailableText(); !reason.isEmpty()) {
        setAvailabilityError(backend->info().source == ModelSource::appleIntelligence
                                 ? QStringLiteral("Apple Intelligence unavailable: ") + reason
                                 : reason);
        return;
    }

    setDraft(QString());
    // The turn goes into the list before the history is taken from it: a list
    // handed on and then added to would be copied whole.
    d->model->append(ChatMessage(ChatMessage::Role::user, text));
    const int replyIndex = int(messages().size());
    d->model->append(ChatMessage(ChatMessage::Role::assistant, QString()));
    setIsGenerating(true);
    startReply(backend, text, ChatHistory(messages(), replyIndex - 1), replyIndex);
}

// The reply's one way from the backend to the screen: what the stream adds is
// added to the assistant message in the list model, and a text the stream
// replaces is written anew there (only ever inside the list: a new chat may
// have emptied it meanwhile).
void ChatViewModel::startReply(const std::shared_ptr<ModelBackend> &backend, const QString &text,
                               const ChatHistory &history, int replyIndex)
{
    d->task = std::make_unique<ReplyTask>();
    d->task->backend = backend;
    d->task->stream = backend->streamResponse(text, history, fullSystemPrompt());

    ReplyStream *stream = d->task->stream.get();
    connect(stream, &ReplyStream::appended, this, [this, replyIndex](const QString &piece) {
        d->model->appendContent(replyIndex, piece);
    });
    connect(stream, &ReplyStream::replaced, this, [this, replyIndex](const QString &whole) {
        d->model->setContent(replyIndex, whole);
    });
    connect(stream, &ReplyStream::finished, this, &ChatViewModel::endReply);
    connect(stream, &ReplyStream::failed, this, [this, replyIndex](const ReplyError &error) {
        d->model->setContent(replyIndex, QStringLiteral("Error: ") + error.description);
        d->task->backend->reset();
        endReply();
    });
}

void ChatViewModel::endReply()
{
    if (!d->task)
        return;
    std::unique_ptr<ReplyTask> task = std::move(d->task);
    disconnect(task->stream.get(), nullptr, this, nullptr);
    // We may be inside one of its signals: delete it from the event loop.
    task->stream.release()->deleteLater();
    setIsGenerating(false);
    saveSession();
}

// The stream sends nothing more and ends shortly after, from the event loop.
void ChatViewModel::stop()
{
    if (d->task)
        d->task->stream->cancel();
}

void ChatViewModel::stopAndSaveForQuit()
{
    if (!d->task)
        return;
    stop();
    endReply();
}
