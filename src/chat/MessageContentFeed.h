#pragma once

#include "MessageListModel.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

// The text of one row of the message list, for the row's bubble, read from the
// list model in C++ and passed on at most once per interval (a frame, by
// default): a change after a quiet interval at once, later ones when the
// interval is over, the newest always last.
//
// Why not the delegate's "content" role: the view hands role values to a
// delegate through the script engine, and every copy of a long streamed reply
// made there counts against the engine's heap and wakes its garbage collector
// (hundreds of collections during one long reply, each a pause).
class MessageContentFeed : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(MessageListModel *model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(int row READ row WRITE setRow NOTIFY rowChanged)
    Q_PROPERTY(QString content READ content NOTIFY contentChanged)
    Q_PROPERTY(int interval READ interval WRITE setInterval NOTIFY intervalChanged)
public:
    explicit MessageContentFeed(QObject *parent = nullptr);

    MessageListModel *model() const { return m_model; }
    void setModel(MessageListModel *model);
    int row() const { return m_row; }
    void setRow(int row);
    QString content() const { return m_content; }
    int interval() const { return m_timer.interval(); }
    void setInterval(int milliseconds);

signals:
    void modelChanged();
    void rowChanged();
    void contentChanged();
    void intervalChanged();

private:
    QString current() const;
    void rowMayHaveChanged();  // throttled
    void readNow();
    void show(const QString &text);

    QPointer<MessageListModel> m_model;
    int m_row = -1;
    QString m_content;
    QTimer m_timer;
    bool m_pending = false;
};
