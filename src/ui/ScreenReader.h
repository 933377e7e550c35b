#pragma once

#include <QAccessible>
#include <QObject>
#include <QtQml/qqmlregistration.h>

class QQuickItem;

// What the views tell assistive technology beyond what Qt Quick tells it.
class ScreenReader : public QObject, private QAccessible::ActivationObserver
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    // Whether assistive technology listens now. Texts only a screen reader
    // hears (a whole message as its accessible name) are given only then:
    // a name holding a growing reply would make it be copied on every change.
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
public:
    explicit ScreenReader(QObject *parent = nullptr);
    ~ScreenReader() override;

    bool active() const { return m_active; }

    // Gives `item`, which has the keyboard focus, the focus again, so that a
    // screen reader hears where the focus is. Qt sends no focus event to an
    // item that already had the focus when its window became active (the
    // window's first activation), and a screen reader then says nothing.
    Q_INVOKABLE static void announceFocus(QQuickItem *item);

signals:
    void activeChanged();

private:
    void accessibilityActiveChanged(bool active) override;

    bool m_active = false;
};
