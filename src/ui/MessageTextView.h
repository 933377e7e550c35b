#pragma once

#include "BlockDocument.h"
#include "MessageBlocks.h"
#include "MessageRuns.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

class QQmlComponent;
class QTextDocument;

// A message's text as a column of blocks (see MessageBlocks). Each block is
// shown by a text item made from `delegate` (a TextEdit whose document this
// fills), and a message of several blocks makes those items only for the blocks
// near the visible area of the viewport around it (the Flickable it scrolls in,
// else the window), and lets go of them far from it. A block not laid out yet
// takes an estimated height; when blocks above the top of the visible area are
// laid out and their height changes, contentShifted() says by how much, so the
// view can scroll by as much and the text the reader sees stays where it is.
//
// What the text shows is MessagePresenter's decision: styled Markdown for an
// assistant's text that looks like Markdown (the raw text when the parser
// refuses it), the text verbatim otherwise.
//
// A message's text only grows, or is written anew (see MessageListModel): a
// `content` at least as long as the one before continues it, a shorter one
// starts afresh. The view takes only what was added and keeps no reference to
// the string it was given, so the list model appends to its own text in place.
// A text not shown yet is presented at once (the list places the bubble by
// its height); a growing one once a frame, when the item is polished. Only
// the blocks from the first changed character (or style) on are cut and laid
// out again, so a streamed reply costs the layout of its last paragraph.
class MessageTextView : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    // The message's text, as given (see above).
    Q_PROPERTY(QString content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(bool hasContent READ hasContent NOTIFY hasContentChanged)
    Q_PROPERTY(QString role READ role WRITE setRole NOTIFY roleChanged)
    Q_PROPERTY(QQmlComponent *delegate READ delegate WRITE setDelegate NOTIFY delegateChanged)
    Q_PROPERTY(QFont font READ font WRITE setFont NOTIFY fontChanged)
    Q_PROPERTY(QColor linkColor READ linkColor WRITE setLinkColor NOTIFY linkColorChanged)
    Q_PROPERTY(bool styled READ styled NOTIFY presentedChanged)
    Q_PROPERTY(QString plainText READ plainText NOTIFY presentedChanged)
    // Horizontal reach of the laid-out lines in this item's coordinates, and
    // whether a paragraph wraps (a block not laid out yet counts when its
    // length says it surely wraps).
    Q_PROPERTY(qreal textLeft READ textLeft NOTIFY extentChanged)
    Q_PROPERTY(qreal textRight READ textRight NOTIFY extentChanged)
    Q_PROPERTY(bool wraps READ wraps NOTIFY extentChanged)
    // The blocks, how many have a text item now, and how many block layouts
    // this item has made (what the tests bound: the work follows the view).
    Q_PROPERTY(int blockCount READ blockCount NOTIFY blocksChanged)
    Q_PROPERTY(int builtCount READ builtCount NOTIFY blocksChanged)
    Q_PROPERTY(int layoutCount READ layoutCount NOTIFY blocksChanged)
public:
    explicit MessageTextView(QQuickItem *parent = nullptr);
    ~MessageTextView() override;

    QString content() const { return m_presenter.source(); }
    void setContent(const QString &content);
    bool hasContent() const { return m_consumed > 0; }
    QString role() const { return m_role; }
    void setRole(const QString &role);
    QQmlComponent *delegate() const { return m_delegate; }
    void setDelegate(QQmlComponent *delegate);
    QFont font() const { return m_font; }
    void setFont(const QFont &font);
    QColor linkColor() const { return m_linkColor; }
    void setLinkColor(const QColor &color);
    bool styled() const { return m_styled; }
    QString plainText() const { return m_presenter.text(); }
    qreal textLeft() const { return m_left; }
    qreal textRight() const { return m_right; }
    bool wraps() const { return m_wraps; }
    int blockCount() const { return int(m_blocks.size()); }
    int builtCount() const;
    int layoutCount() const { return m_layoutCount; }

    // The text item showing block `index`, or null while it has none.
    Q_INVOKABLE QQuickItem *blockItem(int index) const;
    // The block at height `y` of this item (the first or last beyond the ends).
    Q_INVOKABLE int blockAt(qreal y) const;

signals:
    void contentChanged();
    void hasContentChanged();
    void roleChanged();
    void delegateChanged();
    void fontChanged();
    void linkColorChanged();
    void presentedChanged();
    void extentChanged();
    void blocksChanged();
    void contentShifted(qreal dy);
    // A changed text was presented as a frame is prepared (a growing text),
    // the new height set: what follows the text's end can follow it now.
    void presentedInFrame();

protected:
    void componentComplete() override;
    void updatePolish() override;
    void geometryChange(const QRectF &newGeometry, const QRectF &oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData &value) override;

private:
    struct BlockState
    {
        MessageBlocks::LineEstimate estimate;
        BlockDocument::Extent extent;
        bool measured = false;  // `extent` holds at the current width
        QQuickItem *item = nullptr;
    };

    void startAfresh();
    void present();
    void relayoutAll();  // after a change of width or font
    void estimate(size_t index);
    qreal heightOf(size_t index) const;
    void updateGeometry();
    QRectF visibleArea() const;
    void watchViewport();
    bool lazy() const { return m_blocks.size() > 1; }

    QQuickItem *makeItem();
    void build(size_t index);
    // Shows the block's text in its item's document, whose first `kept` characters stay.
    void fill(size_t index, qsizetype kept = 0);
    void measure(size_t index);
    void release(size_t index, bool evenInUse = false);
    static QTextDocument *documentOf(QQuickItem *item);

    qsizetype m_consumed = 0;  // how much of the content was taken
    bool m_changed = false;    // since the last presentation
    bool m_polishing = false;
    QString m_role;
    QPointer<QQmlComponent> m_delegate;
    QFont m_font;
    QColor m_linkColor;
    bool m_styled = false;
    MessagePresenter m_presenter;  // holds the text, the text shown and its runs
    qsizetype m_shownLength = 0;

    std::vector<TextBlock> m_blocks;
    std::vector<BlockState> m_states;
    std::vector<qreal> m_tops;  // where each block starts, and the total height last
    std::vector<QQuickItem *> m_spareItems;

    qreal m_lineHeight = 17;
    qreal m_charsPerLine = 60;
    qreal m_estimateScale = 1;  // laid-out height over estimated height, so far
    qreal m_left = 0, m_right = 0;
    bool m_wraps = false;
    int m_layoutCount = 0;
    QList<QMetaObject::Connection> m_viewportWatch;
};
