#include "Theme.h"

#include <QEvent>
#include <QFontInfo>
#include <QGuiApplication>
#include <QPalette>
#include <cmath>

namespace {

// `a` and `b` mixed opaquely: `amount` of `b` in `a`. With 8 bits a channel,
// as the views store and draw colours.
QColor mix(const QColor &a, const QColor &b, double amount)
{
    const auto channel = [amount](int x, int y) { return int(std::lround(x + (y - x) * amount)); };
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()), channel(a.blue(), b.blue()));
}

// `color` at `alpha` drawn on `surface`, as an opaque colour: the views draw
// their tinted fills opaque so that the text on them is measured exactly.
QColor tint(const QColor &color, double alpha, const QColor &surface)
{
    return mix(surface, color, alpha);
}

// Aim a little above each minimum: a colour drawn on a surface the theme
// does not know exactly (a hovered row, a control's own shading) keeps it.
constexpr double margin = 1.03;

} // namespace

Theme::Theme(QObject *parent) : QObject(parent)
{
    deriveColours();
    deriveSizes();
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool Theme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == QCoreApplication::instance()) {
        if (event->type() == QEvent::ApplicationPaletteChange) {
            deriveColours();
            emit changed();
        } else if (event->type() == QEvent::ApplicationFontChange) {
            deriveSizes();
            emit changed();
        }
    }
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
    // The smallest step towards the target that reaches the contrast (the
    // target itself when even it does not).
    double low = 0, high = 1;
    for (int i = 0; i < 20; ++i) {
        const double middle = (low + high) / 2;
        (contrast(mix(color, target, middle), against) >= minimum ? high : low) = middle;
    }
    return mix(color, target, high);
}

QColor Theme::withContrast(QColor color, std::initializer_list<QColor> surfaces, double minimum)
{
    // Moving away from one surface moves away from the others of its kind;
    // a second pass settles what the first one changed.
    for (int pass = 0; pass < 2; ++pass) {
        for (const QColor &surface : surfaces)
            color = withContrast(color, surface, minimum);
    }
    return color;
}

void Theme::deriveColours()
{
    const QPalette palette = QGuiApplication::palette();
    const auto role = [&palette](QPalette::ColorRole r) { return palette.color(QPalette::Active, r); };
    const QColor background = role(QPalette::Base);
    const QColor panel = role(QPalette::Window);
    const double text = 4.5 * margin, large = 3.0 * margin;

    m_background = background;
    m_panel = panel;
    m_primary = withContrast(role(QPalette::Text), {background, panel}, 7.0);
    m_accent = withContrast(role(QPalette::Highlight), {background, panel}, text);
    m_secondary = withContrast(mix(m_primary, background, 0.45), {background, panel}, text);

    // The fills the description gives as a colour at an opacity, made opaque.
    m_fieldFill = tint(m_secondary, 0.1, background);
    m_welcomeFill = tint(m_secondary, 0.12, background);
    m_assistantBubble = tint(m_secondary, 0.15, background);
    m_chipFill = tint(m_accent, 0.1, background);
    m_modeBarFill = tint(m_accent, 0.08, background);
    m_hoverFill = tint(m_primary, 0.08, panel);
    m_pressedFill = tint(m_primary, 0.16, panel);

    // Text on those fills keeps its contrast too.
    m_primary = withContrast(m_primary, {background, panel, m_assistantBubble, m_hoverFill, m_pressedFill}, text);
    m_secondary = withContrast(m_secondary, {background, panel, m_fieldFill, m_welcomeFill, m_hoverFill}, text);
    m_tertiary = withContrast(mix(m_primary, background, 0.6), {background, panel}, large);
    m_accent = withContrast(m_accent, {background, panel, m_chipFill, m_modeBarFill, m_hoverFill}, text);

    // The accent as a fill (the user's bubble, an active chip, selected text)
    // is the palette's highlight, darkened or lightened as far as its
    // highlighted-text colour needs.
    const QColor highlightedText = role(QPalette::HighlightedText);
    m_accentFill = withContrast(role(QPalette::Highlight), highlightedText, text);
    m_onAccent = withContrast(highlightedText, m_accentFill, text);
    m_selection = m_accentFill;
    m_selectionText = m_onAccent;

    m_link = withContrast(role(QPalette::Link), {background, panel, m_assistantBubble}, text);
    // The named colours keep their hue and take the lightness the surfaces need.
    m_red = withContrast(QColor(0xFF, 0x3B, 0x30), {background, panel}, large);
    m_orange = withContrast(QColor(0xFF, 0x95, 0x00), {background, panel, m_hoverFill}, large);

    m_divider = mix(background, m_primary, 0.2);
    m_panelBorder = mix(panel, m_primary, 0.3);
}

void Theme::deriveSizes()
{
    // Body text a little larger than the controls' system font (14 pixels for
    // the usual 9-point font); the other styles keep their proportion to it.
    const double system = QFontInfo(QGuiApplication::font()).pixelSize();
    const double body = std::max(10.0, system * 7.0 / 6.0);
    const auto style = [body](double ratio) { return int(std::lround(body * ratio)); };
    m_bodySize = style(1.0);
    m_largeTitleSize = style(2.0);
    m_title2Size = style(20.0 / 14);
    m_headlineSize = style(15.0 / 14);
    m_subheadlineSize = style(13.0 / 14);
    m_footnoteSize = style(12.0 / 14);
    m_captionSize = style(11.0 / 14);
}
