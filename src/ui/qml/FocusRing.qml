import QtQuick
import Hushwing

// The keyboard-focus ring: drawn just outside its parent's edge while the
// parent has the active focus, in the theme's focus colour.
Rectangle {
    property bool shown: parent.activeFocus
    // How far the ring sits outside the parent (inside when negative).
    property real outset: 3

    anchors.fill: parent
    anchors.margins: -outset
    visible: shown
    color: Theme.clear
    border.color: Theme.focusRing
    border.width: Theme.focusRingWidth
    Accessible.ignored: true
}
