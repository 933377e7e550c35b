import QtQuick
import QtQuick.Controls.impl
import Hushwing

// A bundled icon by its symbol name (icons/<name>.svg, drawn by the "symbol"
// image provider), tinted with `color`.
// The SVG is rasterised at the item's size times the screen's pixel ratio, so
// it stays sharp on high-density screens. Decorative: controls that show it
// carry the accessible name themselves.
Item {
    id: root
    property string name
    property real size: 16
    property color color: Theme.primary

    implicitWidth: size
    implicitHeight: size
    Accessible.ignored: true

    IconImage {
        anchors.fill: parent
        source: root.name.length > 0 ? "image://symbol/" + root.name : ""
        sourceSize: Qt.size(root.size, root.size)
        color: root.color
        fillMode: Image.PreserveAspectFit
        smooth: true
    }
}
