#include "SymbolImageProvider.h"

#include <QPainter>
#include <QQmlEngine>
#include <QSvgRenderer>

SymbolImageProvider::SymbolImageProvider() : QQuickImageProvider(QQuickImageProvider::Image) {}

QString SymbolImageProvider::resourcePath(const QString &name)
{
    return QStringLiteral(":/Hushwing/icons/") + name + QStringLiteral(".svg");
}

QImage SymbolImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    // Names are plain dotted words; anything else (a path, a query) is no icon.
    for (QChar c : id) {
        if (!(c.isLetterOrNumber() || c == u'.'))
            return {};
    }
    QSvgRenderer renderer(resourcePath(id));
    if (!renderer.isValid())
        return {};
    QSize target = renderer.defaultSize();
    if (requestedSize.width() > 0 && requestedSize.height() > 0)
        target = target.scaled(requestedSize, Qt::KeepAspectRatio);
    else if (requestedSize.width() > 0)
        target = target.scaled(requestedSize.width(), INT_MAX, Qt::KeepAspectRatio);
    else if (requestedSize.height() > 0)
        target = target.scaled(INT_MAX, requestedSize.height(), Qt::KeepAspectRatio);
    target = target.expandedTo(QSize(1, 1)).boundedTo(QSize(1024, 1024));
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (size)
        *size = image.size();
    return image;
}

void SymbolImageProvider::install(QQmlEngine *engine)
{
    if (!engine->imageProvider(QStringLiteral("symbol")))
        engine->addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
}
