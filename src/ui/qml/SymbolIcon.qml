import QtQuick
import QtQuick.Controls.impl

// A bundled icon by its symbol name (icons/<name>.svg), tinted with `color`.
// Decorative: controls that show it carry the accessible name themselves.
IconImage {
    id: root
    property string name
    property real size: 16

    source: name.length > 0 ? "qrc:/Hushwing/icons/" + name + ".svg" : ""
    sourceSize: Qt.size(size, size)
    width: size
    height: size
    fillMode: Image.PreserveAspectFit
    Accessible.ignored: true
}
