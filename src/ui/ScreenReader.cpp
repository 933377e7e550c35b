#include "ScreenReader.h"

#include <QQuickItem>

void ScreenReader::announceFocus(QQuickItem *item)
{
    if (!item || !item->hasActiveFocus())
        return;
    // The reason of a window switch: a text control keeps its selection, as it
    // does when the user leaves the window and comes back.
    item->setFocus(false, Qt::ActiveWindowFocusReason);
    item->forceActiveFocus(Qt::ActiveWindowFocusReason);
}
