#include "ModelFolderGuide.h"

#include "ModelFolder.h"

#include <QDir>

namespace {

// `path` with a leading `home` folder (a whole folder name, not the start of
// one: /home/al is not the home of /home/alice) written as "~".
QString withHomeAsTilde(const QString &path, const QString &home)
{
    const QString base = QDir::cleanPath(home);
    if (base.isEmpty() || base == QLatin1String("/"))
        return path;
    if (path == base)
        return QStringLiteral("~");
    if (path.startsWith(base + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(base.size());
    return path;
}

} // namespace

QString ModelFolderGuide::folderText()
{
    return withHomeAsTilde(QDir::cleanPath(ModelFolder::path()), QDir::homePath());
}

QString ModelFolderGuide::rowNote()
{
    return QStringLiteral("The on-device model is a .gguf file in %1.").arg(folderText());
}
