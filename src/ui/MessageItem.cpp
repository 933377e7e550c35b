#include "MessageItem.h"

#include "DesktopActions.h"
#include "MessageTextView.h"

MessageItem::MessageItem(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(ItemIsFocusScope);
}

QString MessageItem::content() const
{
    return m_textView ? m_textView->content() : m_early;
}

void MessageItem::setContent(const QString &content)
{
    if (m_textView)
        m_textView->setContent(content);
    else
        m_early = content;
}

void MessageItem::setTextView(MessageTextView *view)
{
    if (view == m_textView)
        return;
    if (m_textView)
        disconnect(m_textView, nullptr, this, nullptr);
    m_textView = view;
    if (view) {
        connect(view, &MessageTextView::contentChanged, this, &MessageItem::contentChanged);
        if (!m_early.isNull())
            view->setContent(std::exchange(m_early, QString()));
    }
    emit textViewChanged();
}

void MessageItem::copyContent() const
{
    DesktopActions::copyToClipboard(content());
}
