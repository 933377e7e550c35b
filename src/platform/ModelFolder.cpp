#include "ModelFolder.h"

#include <QStandardPaths>

QString ModelFolder::path()
{
    // From the generic folder, as the store's path is, so that it does not
    // depend on the names the process carries.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Hushwing/Models");
}
