#pragma once

#include <QFont>
#include <QObject>
#include <QPalette>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class QQmlEngine;
class QQuickItem;
class QQuickWindow;

// What the QML tests of readability and keyboard use need from C++, as the
// singleton `ScreenProbe` (import HushwingTest): the desktop's palette and
// font set in process, the contrast of every text and icon against the pixels
// behind it, clipped or overlapping text, and the accessibility tree a screen
// reader sees.
class ScreenProbe : public QObject
{
    Q_OBJECT
public:
    static void install(QQmlEngine *engine);

    // "light" (the palette at start), "breezeLight", "dark" (a KDE Breeze
    // Dark scheme) or "highContrast" (white on black).
    Q_INVOKABLE void usePalette(const QString &name);
    Q_INVOKABLE QStringList paletteNames() const;
    // The system font at start, `factor` times as large.
    Q_INVOKABLE void scaleFont(double factor);

    // One entry per text and icon drawn under `root`: label, text, ratio (its
    // colour against the pixels behind it, with the text and icons hidden),
    // needed (3 for icons, large text, text at most `captionSize` pixels and
    // text in one of `dimColours`; 4.5 otherwise), foreground, background.
    Q_INVOKABLE QVariantList contrasts(QQuickItem *root, int captionSize, const QVariantList &dimColours);
    // Texts under `root` that are cut off (elided, or outside what clips or
    // scrolls them) or that overlap another text or icon.
    Q_INVOKABLE QStringList layoutFaults(QQuickItem *root);

    // What a screen reader reads of `object` (an item, or a popup): role (a
    // QAccessible::Role name), name, description, and the states that are set.
    Q_INVOKABLE QVariantMap accessible(QObject *object) const;
    // The same for the object that has the keyboard focus in `window`.
    Q_INVOKABLE QVariantMap focused(QQuickWindow *window) const;
    // Does what a screen reader's "Press" does to `object`; false when it
    // offers no such action.
    Q_INVOKABLE bool press(QObject *object) const;

private:
    explicit ScreenProbe(QObject *parent = nullptr);

    QPalette m_startPalette;
    QFont m_startFont;
};
