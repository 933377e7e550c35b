#include <QtQml/qqmlextensionplugin.h>

// Every test program links the static QML module; importing its plugin here
// makes `import Hushwing` work in all of them.
Q_IMPORT_QML_PLUGIN(HushwingPlugin)
