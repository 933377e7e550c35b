#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// Which file of the Models folder the on-device engine runs, decided afresh on
// every call from a folder listing and a look at each candidate's first
// kilobytes (never a model load), so that placing, replacing or removing a
// file takes effect at the next send.
//
// The rule: of the files whose names end in ".gguf" (any case; a symbolic
// link to a file counts; hidden files and the second and later parts of a
// split model do not), in alphabetical order of their names ignoring case,
// the first that starts like a GGUF language model. When none does, the first
// of them all: the engine then refuses it with a sentence that names it.
struct ModelFile
{
    QString path;  // in the Models folder (a link stays a link)
    QString name;  // the file name the user sees
    // What tells a replaced file from the one before.
    qint64 size = 0;
    QDateTime modified;
    quint64 device = 0;
    quint64 inode = 0;

    friend bool operator==(const ModelFile &, const ModelFile &) = default;
};

namespace ModelChoice {

std::optional<ModelFile> current(const QString &folder);

} // namespace ModelChoice
