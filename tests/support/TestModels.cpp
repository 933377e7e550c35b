#include "TestModels.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QTemporaryDir &folder()
{
    static QTemporaryDir dir;
    return dir;
}

QString madeOnce(const QString &name, const QStringList &arguments)
{
    const QString path = folder().filePath(name);
    if (!QFileInfo::exists(path) && !TestModels::make(arguments + QStringList{path}))
        return {};
    return path;
}

} // namespace

bool TestModels::make(const QStringList &arguments)
{
#ifdef HUSHWING_TESTMODEL_PROGRAM
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    maker.start(QStringLiteral(HUSHWING_TESTMODEL_PROGRAM), arguments);
    return maker.waitForFinished(60000) && maker.exitStatus() == QProcess::NormalExit && maker.exitCode() == 0;
#else
    Q_UNUSED(arguments);
    return false;
#endif
}

bool TestModels::available()
{
#ifdef HUSHWING_TEST_VOCAB
    return QFileInfo::exists(QStringLiteral(HUSHWING_TEST_VOCAB));
#else
    return false;
#endif
}

QString TestModels::tiny()
{
#ifdef HUSHWING_TEST_VOCAB
    // The vocabulary comes first; the output path is added last.
    const QString path = folder().filePath(QStringLiteral("tiny.gguf"));
    if (!QFileInfo::exists(path) && !make({QStringLiteral(HUSHWING_TEST_VOCAB), path}))
        return {};
    return path;
#else
    return {};
#endif
}

QString TestModels::foreignArchitecture()
{
    return madeOnce(QStringLiteral("foreign.gguf"), {QStringLiteral("--architecture"), QStringLiteral("nonesuch")});
}
