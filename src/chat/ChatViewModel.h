#pragma once

#include "AppConfig.h"
#include "ChatMessage.h"
#include "MessageListModel.h"
#include "ModelManager.h"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>
#include <memory>
#include <optional>

class ModelBackend;
class SessionStore;

// The controller behind the chat screen: the conversation, the draft, the
// running reply, the last refusal and the active writing mode.
class ChatViewModel : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Created by the program")
    Q_PROPERTY(MessageListModel *messages READ messageModel CONSTANT)
    Q_PROPERTY(bool isRestoring READ isRestoring NOTIFY isRestoringChanged)
    Q_PROPERTY(QString draft READ draft WRITE setDraft NOTIFY draftChanged)
    Q_PROPERTY(bool isGenerating READ isGenerating NOTIFY isGeneratingChanged)
    Q_PROPERTY(bool hasAvailabilityError READ hasAvailabilityError NOTIFY availabilityErrorChanged)
    Q_PROPERTY(QString availabilityError READ availabilityErrorText NOTIFY availabilityErrorChanged)
    Q_PROPERTY(bool hasActiveMode READ hasActiveMode NOTIFY activeModeChanged)
    Q_PROPERTY(QString activeModeID READ activeModeID NOTIFY activeModeChanged)
    Q_PROPERTY(WritingMode activeMode READ activeModeValue NOTIFY activeModeChanged)
    Q_PROPERTY(ModelManager *modelManager READ modelManager CONSTANT)
public:
    // Restores the stored conversation as soon as `store` has been read (at
    // once when it has been already); without a store the conversation starts
    // empty and is never saved. The Ollama models are those `ollama` lists.
    ChatViewModel(SessionStore *store, const OllamaServer &ollama, QObject *parent = nullptr);
    ~ChatViewModel() override;

    const QList<ChatMessage> &messages() const;
    MessageListModel *messageModel() const;
    // True until the stored conversation is all in: nothing is saved
    // meanwhile, and a send waits for it.
    bool isRestoring() const;
    QString draft() const;
    void setDraft(const QString &draft);
    bool isGenerating() const;
    std::optional<QString> availabilityError() const;
    void setAvailabilityError(const std::optional<QString> &value);
    std::optional<WritingMode> activeMode() const;
    ModelManager *modelManager() const;
    // The same values as the views read them.
    bool hasAvailabilityError() const { return availabilityError().has_value(); }
    QString availabilityErrorText() const { return availabilityError().value_or(QString()); }
    bool hasActiveMode() const { return activeMode().has_value(); }
    QString activeModeID() const { return activeMode() ? activeMode()->id() : QString(); }
    WritingMode activeModeValue() const { return activeMode().value_or(WritingMode()); }
    // The system prompt of the next reply: the default prompt, plus two line
    // feeds and the active mode's prompt when a mode is active.
    QString fullSystemPrompt() const;

    Q_INVOKABLE void send();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void newChat();
    void setMode(const WritingMode &mode);
    Q_INVOKABLE void setMode(const QString &modeID);
    Q_INVOKABLE void clearMode();
    // The alert's dismissal: sets availabilityError to none.
    Q_INVOKABLE void dismissAvailabilityError();

signals:
    void isRestoringChanged();
    void draftChanged();
    void isGeneratingChanged();
    void availabilityErrorChanged();
    void activeModeChanged();

private:
    void setMessages(const QList<ChatMessage> &messages);
    void setIsGenerating(bool value);
    void setActiveMode(const std::optional<WritingMode> &mode);
    void startReply(const std::shared_ptr<ModelBackend> &backend, const QString &text,
                    const ChatHistory &history, int replyIndex);
    void endReply();
    void stopAndSaveForQuit();
    void resetSelectedBackend();
    void loadSession();
    void finishRestoring(const QList<ChatMessage> &messages);
    void endRestoring();
    void setRestoring(bool value);
    void saveSession();

    struct Private;
    std::unique_ptr<Private> d;
};
