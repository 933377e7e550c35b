#pragma once

#include <QQuickImageProvider>

class QQmlEngine;

// Serves the bundled symbol icons as "image://symbol/<name>", rasterised from
// the SVG at the requested size. Drawing them through Qt's SVG renderer
// directly skips the image-format plugin search that loading an .svg file as an
// image runs (a few milliseconds of plugin loading at start-up).
class SymbolImageProvider : public QQuickImageProvider
{
public:
    SymbolImageProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // Makes "image://symbol/..." available to QML created by `engine`.
    static void install(QQmlEngine *engine);
    static QString resourcePath(const QString &name);
};
