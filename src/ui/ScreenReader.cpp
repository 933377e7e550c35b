#include "ScreenReader.h"

#include <QQuickItem>

ScreenReader::ScreenReader(QObject *parent) : QObject(parent), m_active(QAccessible::isActive())
{
    QAccessible::installActivationObserver(this);
}

ScreenReader::~ScreenReader()
{
    QAccessible::removeActivationObserver(this);
}

void ScreenReader::accessibilityActiveChanged(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    emit activeChanged();
}

void ScreenReader::announceFocus(QQuickItem *item)
{
    if (!item || !item->hasActiveFocus())
        return;
    // The reason of a window switch: a text control keeps its selection, as it
    // does when the user leaves the window and comes back.
    item->setFocus(false, Qt::ActiveWindowFocusReason);
    item->forceActiveFocus(Qt::ActiveWindowFocusReason);
}
