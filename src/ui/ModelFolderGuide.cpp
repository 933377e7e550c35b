#include "ModelFolderGuide.h"

#include "LanguageModelEngine.h"
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

QString ModelFolderGuide::refusalHint(const QString &refusal)
{
    // The chat controller's refusal for the on-device model: this prefix and
    // the platform's reason.
    if (refusal != QStringLiteral("Apple Intelligence unavailable: ") + toString(UnavailableReason::modelNotReady))
        return {};
    // "More → Models" kept on one line.
    return QStringLiteral("Put a .gguf model file in %1, then send again. More\u00a0\u2192\u00a0Models shows that "
                          "folder and opens it.")
        .arg(folderText());
}
