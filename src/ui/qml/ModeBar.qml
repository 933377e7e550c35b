import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The bar above the input field naming the active writing mode, with a button
// that turns the mode off. The chat screen shows it only before the first message.
Rectangle {
    id: bar
    required property ChatViewModel vm

    implicitHeight: row.implicitHeight + 16
    color: Theme.modeBarFill

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 8
        anchors.bottomMargin: 8
        spacing: 8

        SymbolIcon {
            name: bar.vm.activeMode.icon
            color: Theme.accent
            size: Theme.captionSize + 2
        }
        Text {
            objectName: "modeBarLabel"
            text: bar.vm.activeMode.label
            color: Theme.accent
            font.pixelSize: Theme.captionSize
            font.weight: Font.Medium
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Item { Layout.fillWidth: true }
        PlainButton {
            id: clearButton
            objectName: "clearModeButton"
            padding: 2
            radius: height / 2
            background: null
            text: qsTr("Clear Writing Mode")
            contentItem: SymbolIcon {
                name: "xmark.circle.fill"
                color: Theme.secondary
                size: Theme.captionSize + 5
            }
            onClicked: bar.vm.clearMode()
        }
    }
}
