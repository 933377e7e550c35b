#include "ContentView.h"

#include "ChatViewModel.h"
#include "SessionStore.h"

#include <QQuickWindow>

ContentView::ContentView(QQuickItem *parent) : QQuickItem(parent) {}

QObject *ContentView::modelContext() const
{
    return m_modelContext;
}

void ContentView::setModelContext(QObject *context)
{
    auto *store = qobject_cast<SessionStore *>(context);
    if (store == m_modelContext)
        return;
    if (m_modelContext)
        disconnect(m_modelContext, nullptr, this, nullptr);
    m_modelContext = store;
    if (store)
        connect(store, &SessionStore::opened, this, &ContentView::appear);
    emit modelContextChanged();
    appear();
}

void ContentView::componentComplete()
{
    QQuickItem::componentComplete();
    watchWindow(window());
    appear();
}

void ContentView::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange)
        watchWindow(value.window);
    if (change == ItemSceneChange || change == ItemVisibleHasChanged)
        appear();
}

void ContentView::watchWindow(QQuickWindow *window)
{
    disconnect(m_windowVisibility);
    if (window)
        m_windowVisibility = connect(window, &QWindow::visibleChanged, this, &ContentView::appear);
}

bool ContentView::isOnScreen() const
{
    return isComponentComplete() && isVisible() && window() && window()->isVisible();
}

// The appear action: runs whenever the view (re)appears, creates the view model
// only the first time, once the store has been read (off the GUI thread: a
// long conversation comes a moment after the first frame). Without a store the
// window stays empty.
void ContentView::appear()
{
    if (m_vm || !m_modelContext || !m_modelContext->isOpen() || !isOnScreen())
        return;
    m_vm = new ChatViewModel(m_modelContext, this);
    emit vmChanged();
}
