#pragma once

#include "MessageRuns.h"

#include <QObject>
#include <QPointer>
#include <QQuickTextDocument>
#include <QtQml/qqmlregistration.h>
#include <vector>

// Keeps a TextEdit's document showing one message: styled Markdown for an
// assistant's text that looks like Markdown (the raw text when the parser
// refuses it), the text verbatim otherwise. When the text changes, only the
// part from the first changed character (or style) onwards is replaced, so a
// streamed reply costs the layout of its last paragraph, not of the whole
// reply. It also reports where the laid-out lines reach, for the bubble to hug
// its text without a second, unwrapped layout.
class MessageTextDocument : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickTextDocument *document READ document WRITE setDocument NOTIFY documentChanged)
    Q_PROPERTY(QString content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(bool empty READ empty NOTIFY contentChanged)
    Q_PROPERTY(QString role READ role WRITE setRole NOTIFY roleChanged)
    Q_PROPERTY(bool styled READ styled NOTIFY presentedChanged)
    Q_PROPERTY(QString plainText READ plainText NOTIFY presentedChanged)
    // Horizontal reach of the laid-out lines in the text element's coordinates,
    // and whether any paragraph wraps.
    Q_PROPERTY(qreal textLeft READ textLeft NOTIFY extentChanged)
    Q_PROPERTY(qreal textRight READ textRight NOTIFY extentChanged)
    Q_PROPERTY(bool wraps READ wraps NOTIFY extentChanged)
public:
    using QObject::QObject;

    QQuickTextDocument *document() const { return m_document; }
    void setDocument(QQuickTextDocument *document);
    QString content() const { return m_content; }
    void setContent(const QString &content);
    bool empty() const { return m_content.isEmpty(); }
    QString role() const { return m_role; }
    void setRole(const QString &role);
    bool styled() const { return m_styled; }
    QString plainText() const { return m_plainText; }
    qreal textLeft() const { return m_left; }
    qreal textRight() const { return m_right; }
    bool wraps() const { return m_wraps; }


signals:
    void documentChanged();
    void contentChanged();
    void roleChanged();
    void presentedChanged();
    void extentChanged();

private:
    void present();
    void measure();

    QPointer<QQuickTextDocument> m_document;
    QString m_content;
    QString m_role;
    bool m_styled = false;
    QString m_plainText;
    std::vector<StyledRun> m_shown;  // what the document holds
    bool m_documentFresh = true;
    qreal m_left = 0, m_right = 0;
    bool m_wraps = false;
    QMetaObject::Connection m_layoutWatch;
};
