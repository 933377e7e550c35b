#include "DesktopActions.h"

#include "ModelFolder.h"
#include "ModelFolderGuide.h"
#include "StoreFile.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>

void DesktopActions::copyToClipboard(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    clipboard->clear();
    clipboard->setText(text);
}

bool DesktopActions::isWebLink(const QUrl &url)
{
    if (!url.isValid() || url.isRelative())
        return false;
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

bool DesktopActions::isOpenableLink(const QUrl &url)
{
    if (isWebLink(url))
        return true;
    return url.isValid() && url.scheme().compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0
           && !url.path().isEmpty();
}

bool DesktopActions::openLink(const QString &url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!isOpenableLink(parsed))
        return false;
    return QDesktopServices::openUrl(parsed);
}

QString DesktopActions::openModelFolder()
{
    const QString folder = ModelFolder::path();
    // The folder above it is the store's: made owner-only too when this call
    // is the first to need it.
    if (!StoreFile::ensureFolder(QFileInfo(folder).absolutePath()) || !StoreFile::ensureFolder(folder))
        return QStringLiteral("Could not create the folder %1.").arg(ModelFolderGuide::folderText());
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        return QStringLiteral("No file manager could open %1.").arg(ModelFolderGuide::folderText());
    return {};
}
