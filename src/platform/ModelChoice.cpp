#include "ModelChoice.h"

#include "ModelFileCheck.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <sys/stat.h>

namespace {

constexpr qint64 headerBytes = 64 * 1024;  // general.architecture comes first in practice

bool looksLikeAModel(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(headerBytes);
    const auto report = ModelFileCheck::inspect(reinterpret_cast<const unsigned char *>(head.constData()),
                                                size_t(head.size()), quint64(size));
    return report.verdict == ModelFileCheck::Verdict::usable;
}

std::optional<ModelFile> describe(const QFileInfo &entry)
{
    struct stat info {};
    if (::stat(QFile::encodeName(entry.absoluteFilePath()).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;  // a dangling link, a folder, a device
    return ModelFile{entry.absoluteFilePath(), entry.fileName(), qint64(info.st_size), entry.lastModified(),
                     quint64(info.st_dev), quint64(info.st_ino)};
}

} // namespace

std::optional<ModelFile> ModelChoice::current(const QString &folder)
{
    static const QRegularExpression laterSplitPart(QStringLiteral("-(\\d{5})-of-\\d{5}\\.gguf$"),
                                                   QRegularExpression::CaseInsensitiveOption);
    QDir dir(folder);
    // Name filters ignore case; hidden files are not listed.
    QStringList names = dir.entryList({QStringLiteral("*.gguf")}, QDir::Files | QDir::System);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });

    std::optional<ModelFile> first;
    for (const QString &name : std::as_const(names)) {
        const auto split = laterSplitPart.match(name);
        if (split.hasMatch() && split.captured(1).toInt() != 1)
            continue;
        const auto file = describe(QFileInfo(dir, name));
        if (!file)
            continue;
        if (looksLikeAModel(file->path, file->size))
            return file;
        if (!first)
            first = file;
    }
    return first;
}
