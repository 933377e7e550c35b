#include "MessageTextView.h"

#include <QFontMetricsF>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickTextDocument>
#include <QTextDocument>
#include <algorithm>

namespace {

// How far beyond the visible area blocks are laid out ahead of the reader,
// and how far beyond it (in those margins) their items are kept.
constexpr qreal kMinimumMargin = 200, kMaximumMargin = 800;
constexpr qreal kKeptMargins = 3;
// Laid-out blocks set the estimate's scale within these bounds.
constexpr qreal kMinimumScale = 0.5, kMaximumScale = 2;
constexpr size_t kSpareItems = 8;

} // namespace

MessageTextView::MessageTextView(QQuickItem *parent) : QQuickItem(parent)
{
    // viewportItem() then names the Flickable the text scrolls in.
    setFlag(ItemObservesViewport);
}

MessageTextView::~MessageTextView()
{
    for (const auto &connection : std::as_const(m_viewportWatch))
        disconnect(connection);
}

void MessageTextView::setContent(const QString &content)
{
    const bool had = hasContent();
    if (content.size() < m_consumed)
        startAfresh();  // written anew
    if (content.size() > m_consumed) {
        m_presenter.append(QStringView(content).sliced(m_consumed));
        m_consumed = content.size();
        m_changed = true;
    }
    if (!m_changed)
        return;
    emit contentChanged();
    if (hasContent() != had)
        emit hasContentChanged();
    if (m_blocks.empty())
        present();
    else
        polish();
}

void MessageTextView::startAfresh()
{
    m_presenter = MessagePresenter(m_role == QLatin1String("assistant"));
    m_consumed = 0;
    m_changed = true;
}

void MessageTextView::setRole(const QString &role)
{
    if (role == m_role)
        return;
    m_role = role;
    emit roleChanged();
    // Presented again as a message of that role.
    const QString text = content();
    startAfresh();
    m_presenter.append(text);
    m_consumed = text.size();
    present();
}

void MessageTextView::setDelegate(QQmlComponent *delegate)
{
    if (delegate == m_delegate)
        return;
    for (size_t i = 0; i < m_states.size(); ++i)
        release(i, true);
    qDeleteAll(std::exchange(m_spareItems, {}));
    // Shown afresh by items of the new kind.
    m_blocks.clear();
    m_states.clear();
    m_delegate = delegate;
    emit delegateChanged();
    present();
}

void MessageTextView::setFont(const QFont &font)
{
    if (font == m_font)
        return;
    m_font = font;
    emit fontChanged();
    relayoutAll();
}

void MessageTextView::setLinkColor(const QColor &color)
{
    if (color == m_linkColor)
        return;
    m_linkColor = color;
    emit linkColorChanged();
    // Links are drawn afresh in the new colour.
    for (size_t i = 0; i < m_states.size(); ++i) {
        if (m_states[i].item)
            fill(i);
    }
    updateGeometry();
}

int MessageTextView::builtCount() const
{
    return int(std::count_if(m_states.begin(), m_states.end(), [](const BlockState &s) { return s.item; }));
}

QQuickItem *MessageTextView::blockItem(int index) const
{
    return index >= 0 && size_t(index) < m_states.size() ? m_states[index].item : nullptr;
}

int MessageTextView::blockAt(qreal y) const
{
    if (m_blocks.empty())
        return -1;
    const auto after = std::upper_bound(m_tops.begin(), m_tops.end() - 1, y);
    return int(std::clamp<qsizetype>(after - m_tops.begin() - 1, 0, qsizetype(m_blocks.size()) - 1));
}

void MessageTextView::componentComplete()
{
    QQuickItem::componentComplete();
    present();
}

void MessageTextView::present()
{
    if (!isComponentComplete())
        return;
    m_changed = false;
    const qsizetype presentedFrom = m_presenter.present();
    const QString &text = m_presenter.text();
    const qsizetype changedFrom = m_blocks.empty() ? 0 : presentedFrom;
    const bool textChanged = changedFrom < text.size() || text.size() != m_shownLength;
    const bool styledChanged = m_styled != m_presenter.styled();
    m_styled = m_presenter.styled();
    if (!textChanged) {
        if (styledChanged)
            emit presentedChanged();
        return;  // the same text in the same styles
    }
    m_shownLength = text.size();

    // A block that starts where it did keeps its item, whose document is then
    // edited from the first change on; the others let theirs go.
    const size_t kept = MessageBlocks::unaffected(m_blocks, changedFrom);
    const std::vector<TextBlock> before(m_blocks.begin() + qsizetype(kept), m_blocks.end());
    MessageBlocks::split(m_blocks, text, kept);
    for (size_t i = kept; i < m_states.size(); ++i) {
        const bool sameStart = i < m_blocks.size() && m_blocks[i].start == before[i - kept].start
                               && m_blocks[i].paragraphStart == before[i - kept].paragraphStart;
        if (!sameStart)
            release(i, true);
    }
    m_states.resize(m_blocks.size());
    for (size_t i = kept; i < m_blocks.size(); ++i) {
        // Cut again where it was, and wholly before the change: nothing to do.
        if (i - kept < before.size() && m_blocks[i] == before[i - kept] && m_blocks[i].end <= changedFrom)
            continue;
        m_states[i].measured = false;
        estimate(i);
        if (m_states[i].item)
            fill(i, changedFrom - m_blocks[i].start);
    }
    // A message of one block is laid out at once, wherever it is, as any text is.
    if (!lazy() && m_delegate && !m_states.front().item)
        build(0);
    updateGeometry();
    if (lazy() == m_viewportWatch.isEmpty())
        watchViewport();
    if (!m_polishing)
        polish();  // the blocks near the visible area get their items
    emit blocksChanged();
    emit presentedChanged();
}

void MessageTextView::relayoutAll()
{
    const QFontMetricsF metrics(m_font);
    m_lineHeight = metrics.height();
    m_charsPerLine = width() / std::max<qreal>(1, metrics.averageCharWidth());
    // The items follow the font through their bindings, and their width here.
    for (size_t i = 0; i < m_states.size(); ++i) {
        m_states[i].measured = false;
        estimate(i);
        if (QQuickItem *item = m_states[i].item) {
            item->setWidth(width());
            measure(i);
        }
    }
    updateGeometry();
    polish();
}

void MessageTextView::estimate(size_t index)
{
    const TextBlock &block = m_blocks[index];
    m_states[index].estimate = MessageBlocks::estimateLines(
        QStringView(m_presenter.text()).sliced(block.start, block.end - block.start), m_charsPerLine);
}

qreal MessageTextView::heightOf(size_t index) const
{
    const BlockState &state = m_states[index];
    return state.measured ? state.extent.height : qreal(state.estimate.lines) * m_lineHeight * m_estimateScale;
}

// Where the blocks lie, the column's height and the lines' horizontal reach.
void MessageTextView::updateGeometry()
{
    qreal measuredHeight = 0, estimatedHeight = 0;
    qreal left = qInf(), right = -qInf();
    bool wraps = false;
    for (const BlockState &state : m_states) {
        if (state.measured) {
            measuredHeight += state.extent.height;
            estimatedHeight += qreal(state.estimate.lines) * m_lineHeight;
            left = std::min(left, state.extent.left);
            right = std::max(right, state.extent.right);
            wraps = wraps || state.extent.wraps;
        } else {
            wraps = wraps || state.estimate.wraps;
        }
    }
    if (measuredHeight > 0 && estimatedHeight > 0)
        m_estimateScale = std::clamp(measuredHeight / estimatedHeight, kMinimumScale, kMaximumScale);
    m_tops.resize(m_blocks.size() + 1);
    qreal top = 0;
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        m_tops[i] = top;
        top += heightOf(i);
    }
    m_tops.back() = top;
    setImplicitHeight(top);

    if (!(left <= right))
        left = right = 0;
    if (left != m_left || right != m_right || wraps != m_wraps) {
        m_left = left;
        m_right = right;
        m_wraps = wraps;
        emit extentChanged();
    }
}

// The viewport's visible rectangle in this item's coordinates.
QRectF MessageTextView::visibleArea() const
{
    QQuickItem *viewport = viewportItem();
    if (!viewport)
        return {};
    return mapRectFromItem(viewport, viewport->clipRect());
}

// A message of several blocks follows every move of itself or of its
// ancestors up to the viewport (scrolling moves the Flickable's content item).
void MessageTextView::watchViewport()
{
    for (const auto &connection : std::as_const(m_viewportWatch))
        disconnect(connection);
    m_viewportWatch.clear();
    if (!lazy())
        return;
    QQuickItem *viewport = viewportItem();
    const auto repolish = [this] { polish(); };
    for (QQuickItem *item = parentItem(); item; item = item->parentItem()) {
        m_viewportWatch << connect(item, &QQuickItem::xChanged, this, repolish)
                        << connect(item, &QQuickItem::yChanged, this, repolish)
                        << connect(item, &QQuickItem::widthChanged, this, repolish)
                        << connect(item, &QQuickItem::heightChanged, this, repolish)
                        << connect(item, &QQuickItem::visibleChanged, this, repolish)
                        << connect(item, &QQuickItem::parentChanged, this, &MessageTextView::watchViewport);
        if (item == viewport)
            break;
    }
}

void MessageTextView::updatePolish()
{
    if (m_changed) {
        m_polishing = true;  // this pass goes on to lay out what changed
        present();
        m_polishing = false;
        emit presentedInFrame();
    }
    if (!m_delegate || m_blocks.empty() || !isVisible())
        return;
    bool changed = false;
    const QRectF view = visibleArea();
    const qreal margin = std::clamp(view.height() / 2, kMinimumMargin, kMaximumMargin);
    // The block at the top of the visible area stays where it is on screen:
    // what the blocks above it gain or lose is handed to the view to scroll.
    const int anchor = view.top() > 0 && view.top() < height() ? blockAt(view.top()) : -1;
    const qreal anchorTop = anchor >= 0 ? m_tops[anchor] : 0;
    const auto shift = [&] { return anchor >= 0 ? m_tops[anchor] - anchorTop : 0; };
    // Nothing is laid out while the column is wholly above the visible area:
    // a change of its height there would move what the reader sees.
    if (lazy() && view.isValid() && view.top() < height() && view.bottom() + margin > 0) {
        for (int pass = 0; pass < 4; ++pass) {
            const int first = blockAt(view.top() + shift() - margin);
            const int last = blockAt(view.bottom() + shift() + margin);
            bool built = false;
            for (int i = first; i <= last; ++i) {
                if (!m_states[i].item) {
                    build(i);
                    built = true;
                }
            }
            if (!built)
                break;
            updateGeometry();
            changed = true;
        }
    }
    if (lazy()) {
        const qreal keptTop = view.top() + shift() - kKeptMargins * margin;
        const qreal keptBottom = view.bottom() + shift() + kKeptMargins * margin;
        for (size_t i = 0; i < m_states.size(); ++i) {
            if (m_states[i].item && (m_tops[i + 1] < keptTop || m_tops[i] > keptBottom)) {
                release(i);
                changed = true;
            }
        }
    }
    for (size_t i = 0; i < m_states.size(); ++i) {
        if (QQuickItem *item = m_states[i].item)
            item->setY(m_tops[i]);
    }
    if (changed)
        emit blocksChanged();
    if (const qreal dy = shift(); dy != 0)
        emit contentShifted(dy);
}

void MessageTextView::geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry)
{
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.width() != oldGeometry.width())
        relayoutAll();
    else if (newGeometry.topLeft() != oldGeometry.topLeft())
        polish();
}

void MessageTextView::itemChange(ItemChange change, const ItemChangeData &value)
{
    QQuickItem::itemChange(change, value);
    if (change == ItemParentHasChanged || change == ItemSceneChange) {
        watchViewport();
        polish();
    }
}

QTextDocument *MessageTextView::documentOf(QQuickItem *item)
{
    auto *document = item ? item->property("textDocument").value<QQuickTextDocument *>() : nullptr;
    return document ? document->textDocument() : nullptr;
}

QQuickItem *MessageTextView::makeItem()
{
    if (!m_spareItems.empty()) {
        QQuickItem *item = m_spareItems.back();
        m_spareItems.pop_back();
        item->setVisible(true);
        return item;
    }
    QQmlContext *context = m_delegate->creationContext() ? m_delegate->creationContext() : qmlContext(this);
    QObject *object = m_delegate->beginCreate(context);
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item) {
        delete object;
        return nullptr;
    }
    item->setParent(this);
    item->setParentItem(this);
    m_delegate->completeCreate();
    QQmlEngine::setObjectOwnership(item, QQmlEngine::CppOwnership);
    if (QTextDocument *document = documentOf(item))
        document->setUndoRedoEnabled(false);  // a streamed reply would pile up undo steps
    return item;
}

void MessageTextView::build(size_t index)
{
    QQuickItem *item = makeItem();
    if (!item || !documentOf(item)) {
        // A delegate that is no text item: the block keeps its estimate.
        delete item;
        return;
    }
    BlockState &state = m_states[index];
    state.item = item;
    item->setWidth(width());
    item->setY(m_tops.size() > index ? m_tops[index] : 0);
    fill(index);
}

void MessageTextView::fill(size_t index, qsizetype kept)
{
    const TextBlock &block = m_blocks[index];
    const QString &text = m_presenter.text();
    const Qt::LayoutDirection direction = block.continuesParagraph()
                                              ? MessageBlocks::paragraphDirection(QStringView(text).sliced(block.paragraphStart))
                                              : Qt::LayoutDirectionAuto;
    BlockDocument::show(documentOf(m_states[index].item), text, m_presenter.runs(), block.start, block.end, kept,
                        direction, m_linkColor);
    measure(index);
}

void MessageTextView::measure(size_t index)
{
    BlockState &state = m_states[index];
    QTextDocument *document = documentOf(state.item);
    // The text item lays its document out at its own width; measure at that width.
    if (document->textWidth() != width())
        document->setTextWidth(width());
    state.extent = BlockDocument::measure(document);
    state.measured = true;
    ++m_layoutCount;
}

void MessageTextView::release(size_t index, bool evenInUse)
{
    BlockState &state = m_states[index];
    QQuickItem *item = state.item;
    if (!item)
        return;
    // The block the reader is selecting in, or has focus in, stays while it shows its text.
    if (!evenInUse && (item->hasActiveFocus() || !item->property("selectedText").toString().isEmpty()))
        return;
    state.item = nullptr;
    if (m_spareItems.size() < kSpareItems) {
        QMetaObject::invokeMethod(item, "deselect");
        item->setVisible(false);
        m_spareItems.push_back(item);
    } else {
        item->deleteLater();
    }
}
