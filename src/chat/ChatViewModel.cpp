#include "ChatViewModel.h"
#include "ChatViewModelPrivate.h"

#include "DraftText.h"
#include "ModelBackend.h"
#include "ReplyStream.h"
#include "SessionStore.h"

#include <QCoreApplication>

ChatViewModel::ChatViewModel(SessionStore *modelContext, QObject *parent)
    : QObject(parent), d(new Private)
{
    d->model = new MessageListModel(this);
    d->manager = new ModelManager(this);
    d->store = modelContext;
    // A reply still running at quit is stopped and saved with what it has.
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &ChatViewModel::stopAndSaveForQuit);
    loadSession();
}

ChatViewModel::~ChatViewModel()
{
    stopAndSaveForQuit();
}

const QList<ChatMessage> &ChatViewModel::messages() const { return d->model->messages(); }
MessageListModel *ChatViewModel::messageModel() const { return d->model; }
int ChatViewModel::messageCount() const { return int(messages().size()); }
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

// Writing the list always notifies, even when it stays empty.
void ChatViewModel::setMessages(const QList<ChatMessage> &messages)
{
    d->model->setMessages(messages);
    emit messagesChanged();
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
    const int replyIndex = messageCount();
    d->model->append(ChatMessage(ChatMessage::Role::assistant, QString()));
    emit messagesChanged();
    setIsGenerating(true);
    startReply(backend, text, ChatHistory(messages(), replyIndex - 1), replyIndex);
}

// The reply's one way from the backend to the screen: the stream hands out the
// whole text so far (at most once a frame), and each element replaces the
// assistant message's text in the list model.
void ChatViewModel::startReply(const std::shared_ptr<ModelBackend> &backend, const QString &text,
                               const ChatHistory &history, int replyIndex)
{
    d->task = std::make_unique<ReplyTask>();
    d->task->backend = backend;
    d->task->stream = backend->streamResponse(text, history, fullSystemPrompt());

    ReplyStream *stream = d->task->stream.get();
    connect(stream, &ReplyStream::element, this, [this, replyIndex](const QString &whole) {
        writeReply(replyIndex, whole);
    });
    connect(stream, &ReplyStream::finished, this, &ChatViewModel::endReply);
    connect(stream, &ReplyStream::failed, this, [this, replyIndex](const ReplyError &error) {
        writeReply(replyIndex, QStringLiteral("Error: ") + error.description);
        d->task->backend->reset();
        endReply();
    });
}

// Each element is the whole reply so far: it replaces the text, and only ever
// inside the list (a new chat may have emptied it meanwhile).
void ChatViewModel::writeReply(int replyIndex, const QString &text)
{
    d->model->setContent(replyIndex, text);
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
