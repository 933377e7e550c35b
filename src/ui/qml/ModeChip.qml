import QtQuick
import QtQuick.Controls
import Hushwing

// One writing-mode chip: the mode's icon and label on a capsule. The active
// chip is filled with the accent colour and has a white label (the palette's
// text colour for the accent); the others are tinted with the accent colour.
PlainButton {
    id: chip
    required property var mode        // a WritingMode: id, label, icon
    required property bool active

    readonly property color foreground: active ? Theme.onAccent : Theme.accent
    readonly property color fill: active ? Theme.accentFill : Theme.chipFill

    objectName: "modeChip_" + mode.id
    text: mode.label
    leftPadding: 14
    rightPadding: 14
    topPadding: 8
    bottomPadding: 8
    radius: height / 2

    contentItem: Row {
        spacing: 5
        SymbolIcon {
            anchors.verticalCenter: parent.verticalCenter
            name: chip.mode.icon
            color: chip.foreground
            size: Theme.subheadlineSize + 2
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: chip.mode.label
            color: chip.foreground
            font.pixelSize: Theme.subheadlineSize
            font.weight: Font.Medium
        }
    }

    background: Rectangle {
        radius: height / 2
        color: chip.fill
    }

    Accessible.checkable: true
    Accessible.checked: active
}
