#include "MessageContentFeed.h"

MessageContentFeed::MessageContentFeed(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(16);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_pending)
            readNow();
    });
}

void MessageContentFeed::setModel(MessageListModel *model)
{
    if (model == m_model)
        return;
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    if (model) {
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex &from, const QModelIndex &to, const QList<int> &roles) {
                    if (m_row >= from.row() && m_row <= to.row()
                        && (roles.isEmpty() || roles.contains(MessageListModel::ContentRole)))
                        rowMayHaveChanged();
                });
        // Rows moving under this one, or a reset, may change what it shows.
        connect(model, &QAbstractItemModel::modelReset, this, &MessageContentFeed::readNow);
        connect(model, &QAbstractItemModel::rowsInserted, this, &MessageContentFeed::readNow);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &MessageContentFeed::readNow);
    }
    emit modelChanged();
    readNow();
}

void MessageContentFeed::setRow(int row)
{
    if (row == m_row)
        return;
    m_row = row;
    emit rowChanged();
    readNow();
}

void MessageContentFeed::setInterval(int milliseconds)
{
    if (milliseconds == m_timer.interval())
        return;
    m_timer.setInterval(milliseconds);
    emit intervalChanged();
}

QString MessageContentFeed::current() const
{
    if (!m_model || m_row < 0 || m_row >= m_model->messages().size())
        return {};
    return m_model->messages().at(m_row).content;
}

void MessageContentFeed::rowMayHaveChanged()
{
    if (m_timer.isActive()) {
        m_pending = true;  // shown when the interval is over
        return;
    }
    readNow();
}

void MessageContentFeed::readNow()
{
    m_pending = false;
    show(current());
    m_timer.start();
}

void MessageContentFeed::show(const QString &text)
{
    if (text == m_content)
        return;
    m_content = text;
    emit contentChanged();
}
