#pragma once

#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQuickItem;

// What the views tell assistive technology beyond what Qt Quick tells it.
class ScreenReader : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
public:
    using QObject::QObject;

    // Gives `item`, which has the keyboard focus, the focus again, so that a
    // screen reader hears where the focus is. Qt sends no focus event to an
    // item that already had the focus when its window became active (the
    // window's first activation), and a screen reader then says nothing.
    Q_INVOKABLE static void announceFocus(QQuickItem *item);
};
