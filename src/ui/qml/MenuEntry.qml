import QtQuick
import QtQuick.Controls
import Hushwing

// An entry of a menu, in the theme's colours: the current entry (the one the
// arrow keys reach, or the pointer hovers) on the accent fill, the others as
// primary text on the menu's panel. Return, Enter and a screen reader's press
// action choose it, as a click does.
MenuItem {
    id: entry
    // The bundled icon shown before the text.
    property string symbol

    readonly property color ink: highlighted || down ? Theme.onAccent : Theme.primary

    leftPadding: 10
    rightPadding: 14
    topPadding: 6
    bottomPadding: 6

    Keys.onReturnPressed: triggered()
    Keys.onEnterPressed: triggered()
    Accessible.name: text
    Accessible.onPressAction: triggered()

    contentItem: Row {
        spacing: 8
        SymbolIcon {
            name: entry.symbol
            size: Theme.bodySize + 2
            color: entry.ink
            anchors.verticalCenter: parent.verticalCenter
        }
        Label {
            text: entry.text
            font.pixelSize: Theme.bodySize
            color: entry.ink
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    background: Rectangle {
        radius: 5
        color: entry.highlighted || entry.down ? Theme.accentFill : Theme.clear
    }
}
