#include "Theme.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <cmath>

namespace {

// `a` and `b` mixed opaquely: `amount` of `b` in `a`.
QColor mix(const QColor &a, const QColor &b, double amount)
{
    const auto channel = [amount](double x, double y) { return x + (y - x) * amount; };
    return QColor::fromRgbF(float(channel(a.redF(), b.redF())), float(channel(a.greenF(), b.greenF())),
                            float(channel(a.blueF(), b.blueF())));
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

} // namespace

Theme::Theme(QObject *parent) : QObject(parent)
{
    derive();
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool Theme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == QCoreApplication::instance()
        && (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ApplicationFontChange))
        derive();
    return QObject::eventFilter(watched, event);
}

double Theme::luminance(const QColor &color)
{
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = color.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

double Theme::contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Theme::composite(const QColor &color, const QColor &over)
{
    return mix(over, QColor(color.red(), color.green(), color.blue()), color.alphaF());
}

QColor Theme::withContrast(const QColor &color, const QColor &against, double minimum)
{
    if (contrast(color, against) >= minimum)
        return color;
    const QColor target = contrast(Qt::black, against) >= contrast(Qt::white, against) ? QColor(Qt::black)
                                                                                       : QColor(Qt::white);
    // The smallest step towards the target that reaches the contrast.
    double low = 0, high = 1;
    for (int i = 0; i < 20; ++i) {
        const double middle = (low + high) / 2;
        (contrast(mix(color, target, middle), against) >= minimum ? high : low) = middle;
    }
    return mix(color, target, high);
}

void Theme::derive()
{
    const QPalette palette = QGuiApplication::palette();
    const QColor background = palette.color(QPalette::Active, QPalette::Base);
    const QColor text = withContrast(palette.color(QPalette::Active, QPalette::Text), background, 7.0);

    m_background = background;
    m_panel = palette.color(QPalette::Active, QPalette::Window);
    m_panelBorder = mix(m_panel, text, 0.2);
    m_primary = text;
    m_secondary = withContrast(mix(text, background, 0.45), background, 4.5);
    m_tertiary = withContrast(mix(text, background, 0.6), background, 3.0);
    m_accent = withContrast(palette.color(QPalette::Active, QPalette::Highlight), background, 3.0);
    m_onAccent = withContrast(palette.color(QPalette::Active, QPalette::HighlightedText), m_accent, 4.5);
    m_red = withContrast(QColor(0xFF, 0x3B, 0x30), background, 3.0);
    m_orange = withContrast(QColor(0xFF, 0x95, 0x00), background, 4.5);
    m_assistantBubble = mix(background, text, 0.1);
    m_link = withContrast(palette.color(QPalette::Active, QPalette::Link), m_assistantBubble, 4.5);
    m_selection = palette.color(QPalette::Active, QPalette::Highlight);
    m_selectionText = withContrast(palette.color(QPalette::Active, QPalette::HighlightedText), m_selection, 4.5);
    m_divider = mix(background, text, 0.15);
    m_fieldFill = mix(background, text, 0.06);
    m_chipFill = composite(withAlpha(m_accent, 0.12), background);
    m_modeBarFill = composite(withAlpha(m_accent, 0.08), background);
    m_hoverFill = withAlpha(text, 0.08);
    m_pressedFill = withAlpha(text, 0.16);

    emit changed();
}
