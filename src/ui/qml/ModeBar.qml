import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The bar above the input field naming the active writing mode, with a button
// that turns the mode off. The chat screen shows it only before the first message.
Rectangle {
    id: bar
    required property ChatViewModel vm
    required property ChatTheme theme

    implicitHeight: row.implicitHeight + 16
    color: theme.faded(theme.accent, 0.08)

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
            color: bar.theme.accent
            size: bar.theme.captionSize + 2
        }
        Text {
            objectName: "modeBarLabel"
            text: bar.vm.activeMode.label
            color: bar.theme.accent
            font.pixelSize: bar.theme.captionSize
            font.weight: Font.Medium
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Item { Layout.fillWidth: true }
        AbstractButton {
            id: clearButton
            objectName: "clearModeButton"
            focusPolicy: Qt.NoFocus
            contentItem: SymbolIcon {
                name: "xmark.circle.fill"
                color: bar.theme.secondary
                size: 16
            }
            onClicked: bar.vm.clearMode()
            Accessible.role: Accessible.Button
            Accessible.name: qsTr("Clear Writing Mode")
            Accessible.onPressAction: clearButton.clicked()
        }
    }
}
