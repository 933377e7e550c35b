#include "ScreenProbe.h"

#include "Theme.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QMetaEnum>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

QPalette paletteOf(const QList<QPair<QPalette::ColorRole, QColor>> &roles)
{
    QPalette palette;
    for (const auto &[role, color] : roles)
        palette.setColor(role, color);
    return palette;
}

// Breeze's light and dark schemes as KDE Plasma 5 ships them, and a white-on-
// black high-contrast scheme with a cyan selection and yellow links.
QPalette namedPalette(const QString &name)
{
    using P = QPalette;
    if (name == QLatin1String("breezeLight"))
        return paletteOf({{P::Window, QColor(0xef, 0xf0, 0xf1)}, {P::WindowText, QColor(0x23, 0x26, 0x29)},
                          {P::Base, QColor(0xff, 0xff, 0xff)}, {P::Text, QColor(0x23, 0x26, 0x29)},
                          {P::Button, QColor(0xfc, 0xfc, 0xfc)}, {P::ButtonText, QColor(0x23, 0x26, 0x29)},
                          {P::Highlight, QColor(0x3d, 0xae, 0xe9)}, {P::HighlightedText, QColor(0xff, 0xff, 0xff)},
                          {P::Link, QColor(0x29, 0x80, 0xb9)}});
    if (name == QLatin1String("dark"))
        return paletteOf({{P::Window, QColor(0x2a, 0x2e, 0x32)}, {P::WindowText, QColor(0xfc, 0xfc, 0xfc)},
                          {P::Base, QColor(0x1b, 0x1e, 0x20)}, {P::Text, QColor(0xfc, 0xfc, 0xfc)},
                          {P::Button, QColor(0x31, 0x36, 0x3b)}, {P::ButtonText, QColor(0xfc, 0xfc, 0xfc)},
                          {P::Highlight, QColor(0x3d, 0xae, 0xe9)}, {P::HighlightedText, QColor(0xfc, 0xfc, 0xfc)},
                          {P::Link, QColor(0x1d, 0x99, 0xf3)}});
    if (name == QLatin1String("highContrast"))
        return paletteOf({{P::Window, Qt::black}, {P::WindowText, Qt::white}, {P::Base, Qt::black},
                          {P::Text, Qt::white}, {P::Button, Qt::black}, {P::ButtonText, Qt::white},
                          {P::Highlight, QColor(0x1a, 0xeb, 0xff)}, {P::HighlightedText, Qt::black},
                          {P::Link, QColor(0xff, 0xff, 0x00)}});
    return {};
}

bool isText(const QQuickItem *item)
{
    return item->inherits("QQuickText") || item->inherits("QQuickTextEdit") || item->inherits("QQuickTextInput");
}

bool isIcon(const QQuickItem *item)
{
    return QByteArray(item->metaObject()->className()).startsWith("SymbolIcon");
}

QString textOf(const QQuickItem *item)
{
    return isText(item) ? item->property("text").toString() : item->property("name").toString();
}

double effectiveOpacity(const QQuickItem *item)
{
    double opacity = 1;
    for (; item; item = item->parentItem())
        opacity *= item->opacity();
    return opacity;
}

QRectF sceneRect(const QQuickItem *item, const QRectF &local)
{
    return item->mapRectToScene(local);
}

// Where the glyphs of a text item are (its content, placed by its padding and
// alignment), or the whole item for an icon, in scene coordinates.
QRectF inkRect(const QQuickItem *item)
{
    if (!isText(item))
        return sceneRect(item, QRectF(0, 0, item->width(), item->height()));
    const double left = item->property("leftPadding").toDouble(), right = item->property("rightPadding").toDouble();
    const double top = item->property("topPadding").toDouble(), bottom = item->property("bottomPadding").toDouble();
    const double w = item->property("contentWidth").toDouble(), h = item->property("contentHeight").toDouble();
    const double availableWidth = item->width() - left - right, availableHeight = item->height() - top - bottom;
    const QVariant effective = item->property("effectiveHorizontalAlignment");
    const int horizontal = (effective.isValid() ? effective : item->property("horizontalAlignment")).toInt();
    const int vertical = item->property("verticalAlignment").toInt();
    double x = left, y = top;
    if (horizontal & Qt::AlignRight)
        x += availableWidth - w;
    else if (horizontal & Qt::AlignHCenter)
        x += (availableWidth - w) / 2;
    if (vertical & Qt::AlignBottom)
        y += availableHeight - h;
    else if (vertical & Qt::AlignVCenter)
        y += (availableHeight - h) / 2;
    return sceneRect(item, QRectF(x, y, w, h));
}

bool isFlickable(const QQuickItem *item) { return item->inherits("QQuickFlickable"); }

// The part of `item`'s ink that is on screen: inside the window and every
// ancestor that clips.
QRectF visibleInk(const QQuickItem *item)
{
    QRectF rect = inkRect(item);
    for (const QQuickItem *a = item->parentItem(); a; a = a->parentItem()) {
        if (a->clip())
            rect &= sceneRect(a, QRectF(0, 0, a->width(), a->height()));
    }
    if (const QQuickWindow *window = item->window())
        rect &= QRectF(0, 0, window->width(), window->height());
    return rect;
}

void collect(QQuickItem *item, QList<QQuickItem *> &out)
{
    if (!item->isVisible() || item->opacity() <= 0)
        return;
    if ((isText(item) && !textOf(item).isEmpty()) || isIcon(item)) {
        out.append(item);
        if (isIcon(item))
            return;
    }
    for (QQuickItem *child : item->childItems())
        collect(child, out);
}

QList<QQuickItem *> drawnItems(QQuickItem *root)
{
    QList<QQuickItem *> items;
    collect(root, items);
    items.removeIf([](QQuickItem *i) { return visibleInk(i).isEmpty() || effectiveOpacity(i) <= 0.01; });
    return items;
}

QString labelOf(const QQuickItem *item)
{
    QString text = textOf(item).simplified();
    if (text.size() > 40)
        text = text.left(40) + QStringLiteral("…");
    const QString name = item->objectName();
    return name.isEmpty() ? text : name + QStringLiteral(" \"") + text + u'"';
}

bool isAncestor(const QQuickItem *ancestor, const QQuickItem *item)
{
    for (const QQuickItem *a = item->parentItem(); a; a = a->parentItem())
        if (a == ancestor)
            return true;
    return false;
}

// Whether the item's ink lies where its clipping ancestors let it be seen,
// scrolling included.
QString cutOff(const QQuickItem *item)
{
    if (item->property("truncated").toBool())
        return QStringLiteral("elided");
    const QRectF ink = inkRect(item).adjusted(1, 1, -1, -1);
    for (const QQuickItem *a = item->parentItem(); a; a = a->parentItem()) {
        if (!a->clip())
            continue;
        const QRectF box = sceneRect(a, QRectF(0, 0, a->width(), a->height()));
        const bool horizontalScroll = isFlickable(a) && a->property("contentWidth").toDouble() > a->width() + 1
                                      && (a->property("flickableDirection").toInt() & 1);
        const bool verticalScroll = isFlickable(a) && (a->property("flickableDirection").toInt() & 2);
        if (!horizontalScroll && (ink.left() < box.left() || ink.right() > box.right()))
            return QStringLiteral("cut at the sides by ") + QString::fromLatin1(a->metaObject()->className());
        if (!verticalScroll && !isFlickable(a) && (ink.top() < box.top() || ink.bottom() > box.bottom()))
            return QStringLiteral("cut at top or bottom by ") + QString::fromLatin1(a->metaObject()->className());
    }
    return {};
}

QColor sample(const QImage &image, QPointF scenePoint)
{
    const QPoint p = (scenePoint * image.devicePixelRatio()).toPoint();
    return image.pixelColor(std::clamp(p.x(), 0, image.width() - 1), std::clamp(p.y(), 0, image.height() - 1));
}

QAccessibleInterface *interfaceOf(QObject *object)
{
    if (!object)
        return nullptr;
    // A popup is not an item: its accessible object is the item that holds its content.
    if (!qobject_cast<QQuickItem *>(object)) {
        if (auto *content = object->property("contentItem").value<QQuickItem *>())
            object = content->parentItem();
    }
    return object ? QAccessible::queryAccessibleInterface(object) : nullptr;
}

QVariantMap describe(QAccessibleInterface *iface)
{
    if (!iface)
        return {};
    const QAccessible::State state = iface->state();
    QStringList states;
    const auto add = [&states](bool set, const char *name) {
        if (set)
            states << QString::fromLatin1(name);
    };
    add(state.focusable, "focusable");
    add(state.focused, "focused");
    add(state.checkable, "checkable");
    add(state.checked, "checked");
    add(state.selectable, "selectable");
    add(state.selected, "selected");
    add(state.disabled, "disabled");
    add(state.invisible, "invisible");
    add(state.modal, "modal");
    add(state.editable, "editable");
    add(state.readOnly, "readOnly");
    add(state.multiLine, "multiLine");
    return {{"role", QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(iface->role()))},
            {"name", iface->text(QAccessible::Name)},
            {"description", iface->text(QAccessible::Description)},
            {"states", states}};
}

} // namespace

ScreenProbe::ScreenProbe(QObject *parent)
    : QObject(parent), m_startPalette(QGuiApplication::palette()), m_startFont(QGuiApplication::font())
{
}

void ScreenProbe::install(QQmlEngine *)
{
    static bool registered = false;
    if (std::exchange(registered, true))
        return;
    qmlRegisterSingletonType<ScreenProbe>("HushwingTest", 1, 0, "ScreenProbe",
                                          [](QQmlEngine *, QJSEngine *) -> QObject * { return new ScreenProbe; });
}

QStringList ScreenProbe::paletteNames() const
{
    return {QStringLiteral("light"), QStringLiteral("breezeLight"), QStringLiteral("dark"),
            QStringLiteral("highContrast")};
}

void ScreenProbe::usePalette(const QString &name)
{
    QGuiApplication::setPalette(name == QLatin1String("light") ? m_startPalette : namedPalette(name));
}

void ScreenProbe::scaleFont(double factor)
{
    QFont font = m_startFont;
    if (font.pixelSize() > 0)
        font.setPixelSize(qRound(font.pixelSize() * factor));
    else
        font.setPointSizeF(font.pointSizeF() * factor);
    QGuiApplication::setFont(font);
}

QVariantList ScreenProbe::contrasts(QQuickItem *root, int captionSize, const QVariantList &dimColours)
{
    if (!root || !root->window())
        return {};
    const QList<QQuickItem *> items = drawnItems(root);
    // The pixels behind the texts and icons: everything else drawn as it is.
    QList<double> opacities;
    for (QQuickItem *item : items) {
        opacities.append(item->opacity());
        item->setOpacity(0);
    }
    const QImage image = root->window()->grabWindow();
    for (qsizetype i = 0; i < items.size(); ++i)
        items[i]->setOpacity(opacities[i]);

    QVariantList result;
    for (QQuickItem *item : items) {
        QColor colour = item->property("color").value<QColor>();
        colour.setAlphaF(float(colour.alphaF() * effectiveOpacity(item)));
        const QRectF ink = visibleInk(item);
        double worst = 22;
        QColor foreground, background;
        for (const QPointF f : {QPointF(0.5, 0.5), QPointF(0.2, 0.3), QPointF(0.8, 0.7), QPointF(0.2, 0.7),
                                QPointF(0.8, 0.3)}) {
            const QColor behind = sample(image, ink.topLeft() + QPointF(ink.width() * f.x(), ink.height() * f.y()));
            const QColor front = Theme::composite(colour, behind);
            const double ratio = Theme::contrast(front, behind);
            if (ratio < worst)
                worst = ratio, foreground = front, background = behind;
        }
        double needed = 4.5;
        const QFont font = item->property("font").value<QFont>();
        const double pixels = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * 4 / 3;
        const QColor opaque = item->property("color").value<QColor>();
        const bool dim = std::any_of(dimColours.begin(), dimColours.end(),
                                     [&opaque](const QVariant &c) { return c.value<QColor>() == opaque; });
        if (isIcon(item) || dim || pixels <= captionSize || pixels >= 24 || (pixels >= 18.5 && font.weight() >= QFont::Bold))
            needed = 3.0;
        result.append(QVariantMap{{"label", labelOf(item)}, {"text", textOf(item)}, {"ratio", worst},
                                  {"needed", needed}, {"foreground", foreground.name()},
                                  {"background", background.name()}});
    }
    return result;
}

QStringList ScreenProbe::layoutFaults(QQuickItem *root)
{
    QStringList faults;
    if (!root)
        return faults;
    const QList<QQuickItem *> items = drawnItems(root);
    for (const QQuickItem *item : items) {
        if (isText(item)) {
            if (const QString why = cutOff(item); !why.isEmpty())
                faults << labelOf(item) + QStringLiteral(" is ") + why;
        }
    }
    for (qsizetype i = 0; i < items.size(); ++i) {
        for (qsizetype j = i + 1; j < items.size(); ++j) {
            if (isAncestor(items[i], items[j]) || isAncestor(items[j], items[i]))
                continue;
            const QRectF overlap = visibleInk(items[i]) & visibleInk(items[j]);
            if (overlap.width() > 1 && overlap.height() > 1)
                faults << labelOf(items[i]) + QStringLiteral(" overlaps ") + labelOf(items[j]);
        }
    }
    return faults;
}

QVariantMap ScreenProbe::accessible(QObject *object) const
{
    return describe(interfaceOf(object));
}

bool ScreenProbe::press(QObject *object) const
{
    QAccessibleInterface *iface = interfaceOf(object);
    QAccessibleActionInterface *actions = iface ? iface->actionInterface() : nullptr;
    const QString press = QAccessibleActionInterface::pressAction();
    if (!actions || !actions->actionNames().contains(press))
        return false;
    actions->doAction(press);
    return true;
}

QVariantMap ScreenProbe::focused(QQuickWindow *window) const
{
    if (!window)
        return {};
    // The focused item itself, or the nearest ancestor a screen reader sees.
    for (QQuickItem *item = window->activeFocusItem(); item; item = item->parentItem()) {
        if (QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(item)) {
            QVariantMap map = describe(iface);
            map.insert(QStringLiteral("objectName"), item->objectName());
            return map;
        }
    }
    return {};
}
