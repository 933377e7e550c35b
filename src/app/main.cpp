#include "HushwingApp.h"

#include <QtQml/qqmlextensionplugin.h>

// The program's QML module is linked statically.
Q_IMPORT_QML_PLUGIN(HushwingPlugin)

int main(int argc, char *argv[])
{
    return HushwingApp::main(argc, argv);
}
