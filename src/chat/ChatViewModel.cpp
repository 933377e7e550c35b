// PLACEHOLDER: replaced by the real implementation.
#include "ChatViewModel.h"

#include "SessionStore.h"

int MessageListModel::rowCount(const QModelIndex &) const { return 0; }
QVariant MessageListModel::data(const QModelIndex &, int) const { return {}; }
QHash<int, QByteArray> MessageListModel::roleNames() const
{
    return {{IdRole, "id"}, {RoleRole, "role"}, {ContentRole, "content"}};
}

struct ChatViewModel::Private
{
    QList<ChatMessage> messages;
    MessageListModel *model = nullptr;
    ModelManager *manager = nullptr;
    QString draft;
};

ChatViewModel::ChatViewModel(SessionStore *, QObject *parent) : QObject(parent), d(new Private)
{
    d->model = new MessageListModel(this);
    d->manager = new ModelManager(this);
}
ChatViewModel::~ChatViewModel() = default;
const QList<ChatMessage> &ChatViewModel::messages() const { return d->messages; }
MessageListModel *ChatViewModel::messageModel() const { return d->model; }
int ChatViewModel::messageCount() const { return int(d->messages.size()); }
QString ChatViewModel::draft() const { return d->draft; }
void ChatViewModel::setDraft(const QString &draft) { if (draft != d->draft) { d->draft = draft; emit draftChanged(); } }
bool ChatViewModel::isGenerating() const { return false; }
std::optional<QString> ChatViewModel::availabilityError() const { return std::nullopt; }
void ChatViewModel::setAvailabilityError(const std::optional<QString> &) {}
std::optional<WritingMode> ChatViewModel::activeMode() const { return std::nullopt; }
ModelManager *ChatViewModel::modelManager() const { return d->manager; }
void ChatViewModel::send() {}
void ChatViewModel::stop() {}
void ChatViewModel::newChat() {}
void ChatViewModel::setMode(const WritingMode &) {}
void ChatViewModel::setMode(const QString &) {}
void ChatViewModel::clearMode() {}
void ChatViewModel::dismissAvailabilityError() {}
