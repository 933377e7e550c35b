import QtQuick
import QtQuick.Controls
import Hushwing

// One writing-mode chip: the mode's icon and label on a capsule. The active
// chip is filled with the accent colour and has a white label; the others are
// tinted with the accent colour.
AbstractButton {
    id: chip
    required property var mode        // a WritingMode: id, label, icon
    required property bool active
    required property ChatTheme theme

    readonly property color foreground: active ? theme.white : theme.accent
    readonly property color fill: active ? theme.accent : theme.faded(theme.accent, 0.1)

    objectName: "modeChip_" + mode.id
    focusPolicy: Qt.NoFocus
    leftPadding: 14
    rightPadding: 14
    topPadding: 8
    bottomPadding: 8
    hoverEnabled: true

    contentItem: Row {
        spacing: 5
        SymbolIcon {
            anchors.verticalCenter: parent.verticalCenter
            name: chip.mode.icon
            color: chip.foreground
            size: chip.theme.subheadlineSize + 2
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: chip.mode.label
            color: chip.foreground
            font.pixelSize: chip.theme.subheadlineSize
            font.weight: Font.Medium
        }
    }

    background: Rectangle {
        radius: height / 2
        color: chip.fill
        opacity: chip.down ? 0.75 : 1
    }

    Accessible.role: Accessible.Button
    Accessible.name: mode.label
    Accessible.checkable: true
    Accessible.checked: active
    Accessible.onPressAction: chip.clicked()
}
