#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

#include "ChatViewModel.h"
class SessionStore;

// The root view of the window. It creates the chat view model the first time it
// appears on screen with its store read (a long conversation may come a moment
// after the first frame) and keeps that one object for the life of the window;
// its children (the chat screen) read `vm`, which stays null until then.
class ContentView : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    // The store context the view model is given (a SessionStore).
    Q_PROPERTY(QObject *modelContext READ modelContext WRITE setModelContext NOTIFY modelContextChanged)
    Q_PROPERTY(ChatViewModel *vm READ vm NOTIFY vmChanged)
public:
    explicit ContentView(QQuickItem *parent = nullptr);

    QObject *modelContext() const;
    void setModelContext(QObject *context);
    ChatViewModel *vm() const { return m_vm; }

signals:
    void modelContextChanged();
    void vmChanged();

protected:
    void componentComplete() override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    bool isOnScreen() const;
    void appear();
    void watchWindow(QQuickWindow *window);

    QPointer<SessionStore> m_modelContext;
    ChatViewModel *m_vm = nullptr;  // owned as a QObject child
    QMetaObject::Connection m_windowVisibility;
};
