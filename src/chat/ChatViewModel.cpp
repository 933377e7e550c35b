#include "ChatViewModel.h"
#include "ChatViewModelPrivate.h"

#include "DraftText.h"
#include "LanguageModel.h"
#include "ModelBackend.h"
#include "ReplyStream.h"
#include "SessionStore.h"

#include <QCoreApplication>
#include <QTimer>

ChatViewModel::ChatViewModel(SessionStore *modelContext, QObject *parent)
    : QObject(parent), d(new Private)
{
    d->model = new MessageListModel(this);
    d->manager = new ModelManager(this);
    d->store = modelContext;
    // Content changes reach the views as the list model signals them (at most
    // once per pass of the event loop while a reply streams).
    connect(d->model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &, const QList<int> &roles) {
                if (roles.contains(MessageListModel::ContentRole))
                    emit messageContentChanged(topLeft.row());
            });
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
bool ChatViewModel::hasStreamTask() const { return d->task != nullptr; }

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
    if (auto selected = d->manager->selected();
        selected && selected->info().source == ModelSource::appleIntelligence) {
        const Availability availability = SystemLanguageModel::defaultModel().availability();
        if (!availability.available) {
            const auto reason = availability.reason.value_or(UnavailableReason::deviceNotEligible);
            setAvailabilityError(QStringLiteral("Apple Intelligence unavailable: ") + toString(reason));
            return;
        }
    }
    const std::shared_ptr<ModelBackend> backend = d->manager->selected();
    if (!backend) {
        setAvailabilityError(QStringLiteral("No model selected."));
        return;
    }

    setDraft(QString());
    const QList<ChatMessage> history = messages();
    d->model->append(ChatMessage(ChatMessage::Role::user, text));
    const int replyIndex = messageCount();
    d->model->append(ChatMessage(ChatMessage::Role::assistant, QString()));
    emit messagesChanged();
    setIsGenerating(true);
    startReply(backend, text, history, replyIndex);
}

void ChatViewModel::startReply(const std::shared_ptr<ModelBackend> &backend, const QString &text,
                               const QList<ChatMessage> &history, int replyIndex)
{
    d->task = std::make_unique<ReplyTask>();
    d->task->backend = backend;
    d->task->replyIndex = replyIndex;
    d->task->stream = backend->streamResponse(text, history, fullSystemPrompt());
    emit streamTaskChanged();

    ReplyStream *stream = d->task->stream.get();
    if (!stream) {  // a backend that could not even start counts as an empty reply
        QTimer::singleShot(0, this, &ChatViewModel::endReply);
        return;
    }
    connect(stream, &ReplyStream::element, this, [this, replyIndex](const QString &whole) {
        if (d->task && !d->task->cancelled)
            writeReply(replyIndex, whole);
    });
    connect(stream, &ReplyStream::finished, this, &ChatViewModel::endReply);
    connect(stream, &ReplyStream::failed, this, [this, replyIndex](const ReplyError &error) {
        if (!error.isCancellation() && d->task) {
            writeReply(replyIndex, QStringLiteral("Error: ") + error.description);
            d->task->backend->reset();
        }
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
    if (task->stream) {
        disconnect(task->stream.get(), nullptr, this, nullptr);
        // We may be inside one of its signals: delete it from the event loop.
        task->stream.release()->deleteLater();
    }
    setIsGenerating(false);
    emit streamTaskChanged();
    saveSession();
}

void ChatViewModel::stop()
{
    if (!d->task || d->task->cancelled)
        return;
    d->task->cancelled = true;
    if (d->task->stream)
        d->task->stream->cancel();
}

void ChatViewModel::stopAndSaveForQuit()
{
    if (!d->task)
        return;
    stop();
    endReply();
}
