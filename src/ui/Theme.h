#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>
#include <initializer_list>

// Every colour and text size the views use, by role, derived from the system
// palette and font and followed while the program runs. Text colours are
// adjusted, where the palette alone would not give it, to a contrast of at
// least 4.5:1 against every surface they are drawn on (3:1 for tertiary text
// and for icons). Views take their colours from here and never from literals,
// from the palette directly or from opacities of their own.
class Theme : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    // Surfaces: the window's and the message list's background, and raised
    // panels (tool bar, popovers, sheets, alerts) with their border.
    Q_PROPERTY(QColor background READ background NOTIFY changed)
    Q_PROPERTY(QColor panel READ panel NOTIFY changed)
    Q_PROPERTY(QColor panelBorder READ panelBorder NOTIFY changed)
    // Foreground roles: normal text, dimmer and dimmest text, the accent.
    Q_PROPERTY(QColor primary READ primary NOTIFY changed)
    Q_PROPERTY(QColor secondary READ secondary NOTIFY changed)
    Q_PROPERTY(QColor tertiary READ tertiary NOTIFY changed)
    Q_PROPERTY(QColor accent READ accent NOTIFY changed)
    // A fill of the accent colour (active chip, the user's bubble) and the
    // text and icons drawn on it.
    Q_PROPERTY(QColor accentFill READ accentFill NOTIFY changed)
    Q_PROPERTY(QColor onAccent READ onAccent NOTIFY changed)
    // Named colours: the Stop button's red, the orange of warnings.
    Q_PROPERTY(QColor red READ red NOTIFY changed)
    Q_PROPERTY(QColor orange READ orange NOTIFY changed)
    // The message bubbles and their text; links.
    Q_PROPERTY(QColor userBubble READ userBubble NOTIFY changed)
    Q_PROPERTY(QColor userBubbleText READ userBubbleText NOTIFY changed)
    Q_PROPERTY(QColor assistantBubble READ assistantBubble NOTIFY changed)
    Q_PROPERTY(QColor assistantBubbleText READ assistantBubbleText NOTIFY changed)
    Q_PROPERTY(QColor link READ link NOTIFY changed)
    // Selected text in a bubble.
    Q_PROPERTY(QColor selection READ selection NOTIFY changed)
    Q_PROPERTY(QColor selectionText READ selectionText NOTIFY changed)
    // Thin rules; the opaque fills of the message field (secondary at 0.1),
    // the welcome text (secondary at 0.12), an inactive chip (accent at 0.1)
    // and the mode bar (accent at 0.08); a hovered or pressed row or button;
    // the keyboard-focus ring.
    Q_PROPERTY(QColor divider READ divider NOTIFY changed)
    Q_PROPERTY(QColor fieldFill READ fieldFill NOTIFY changed)
    Q_PROPERTY(QColor welcomeFill READ welcomeFill NOTIFY changed)
    Q_PROPERTY(QColor chipFill READ chipFill NOTIFY changed)
    Q_PROPERTY(QColor modeBarFill READ modeBarFill NOTIFY changed)
    Q_PROPERTY(QColor hoverFill READ hoverFill NOTIFY changed)
    Q_PROPERTY(QColor pressedFill READ pressedFill NOTIFY changed)
    Q_PROPERTY(QColor focusRing READ focusRing NOTIFY changed)
    // No colour at all: the inside of a ring, a button without a fill.
    Q_PROPERTY(QColor clear READ clear CONSTANT)
    // The named text styles in pixels, derived from the system font so that a
    // larger system font makes every one of them larger.
    Q_PROPERTY(int largeTitleSize READ largeTitleSize NOTIFY changed)
    Q_PROPERTY(int title2Size READ title2Size NOTIFY changed)
    Q_PROPERTY(int headlineSize READ headlineSize NOTIFY changed)
    Q_PROPERTY(int bodySize READ bodySize NOTIFY changed)
    Q_PROPERTY(int subheadlineSize READ subheadlineSize NOTIFY changed)
    Q_PROPERTY(int footnoteSize READ footnoteSize NOTIFY changed)
    Q_PROPERTY(int captionSize READ captionSize NOTIFY changed)
    Q_PROPERTY(int defaultPadding READ defaultPadding CONSTANT)
    Q_PROPERTY(int focusRingWidth READ focusRingWidth CONSTANT)
public:
    explicit Theme(QObject *parent = nullptr);

    QColor background() const { return m_background; }
    QColor panel() const { return m_panel; }
    QColor panelBorder() const { return m_panelBorder; }
    QColor primary() const { return m_primary; }
    QColor secondary() const { return m_secondary; }
    QColor tertiary() const { return m_tertiary; }
    QColor accent() const { return m_accent; }
    QColor accentFill() const { return m_accentFill; }
    QColor onAccent() const { return m_onAccent; }
    QColor red() const { return m_red; }
    QColor orange() const { return m_orange; }
    QColor userBubble() const { return m_accentFill; }
    QColor userBubbleText() const { return m_onAccent; }
    QColor assistantBubble() const { return m_assistantBubble; }
    QColor assistantBubbleText() const { return m_primary; }
    QColor link() const { return m_link; }
    QColor selection() const { return m_selection; }
    QColor selectionText() const { return m_selectionText; }
    QColor divider() const { return m_divider; }
    QColor fieldFill() const { return m_fieldFill; }
    QColor welcomeFill() const { return m_welcomeFill; }
    QColor chipFill() const { return m_chipFill; }
    QColor modeBarFill() const { return m_modeBarFill; }
    QColor hoverFill() const { return m_hoverFill; }
    QColor pressedFill() const { return m_pressedFill; }
    QColor focusRing() const { return m_accent; }
    static QColor clear() { return Qt::transparent; }
    int largeTitleSize() const { return m_largeTitleSize; }
    int title2Size() const { return m_title2Size; }
    int headlineSize() const { return m_headlineSize; }
    int bodySize() const { return m_bodySize; }
    int subheadlineSize() const { return m_subheadlineSize; }
    int footnoteSize() const { return m_footnoteSize; }
    int captionSize() const { return m_captionSize; }
    int defaultPadding() const { return 16; }
    int focusRingWidth() const { return 2; }

    // WCAG 2 relative luminance and contrast ratio (1 to 21) of opaque colours.
    Q_INVOKABLE static double luminance(const QColor &color);
    Q_INVOKABLE static double contrast(const QColor &a, const QColor &b);
    // `over` with `color` drawn on it at `color`'s alpha, as an opaque colour.
    Q_INVOKABLE static QColor composite(const QColor &color, const QColor &over);
    // `color` moved towards black or white (whichever `against` contrasts
    // with more), as little as needed to reach `minimum` against `against`.
    static QColor withContrast(const QColor &color, const QColor &against, double minimum);
    // The same against several surfaces of the same kind (all light or all dark).
    static QColor withContrast(QColor color, std::initializer_list<QColor> surfaces, double minimum);

signals:
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void deriveColours();
    void deriveSizes();

    QColor m_background, m_panel, m_panelBorder;
    QColor m_primary, m_secondary, m_tertiary, m_accent, m_accentFill, m_onAccent, m_red, m_orange;
    QColor m_assistantBubble, m_link, m_selection, m_selectionText;
    QColor m_divider, m_fieldFill, m_welcomeFill, m_chipFill, m_modeBarFill, m_hoverFill, m_pressedFill;
    int m_largeTitleSize = 28, m_title2Size = 20, m_headlineSize = 15, m_bodySize = 14;
    int m_subheadlineSize = 13, m_footnoteSize = 12, m_captionSize = 11;
};
