import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// One line of the About screen's lists: a symbol in a 20-point column, so that
// every row's text starts at the same place, level with the first text line.
RowLayout {
    id: row

    required property string icon
    required property string text
    property color color: Theme.accent

    spacing: 10

    Item {
        objectName: "iconFrame"
        Layout.preferredWidth: 20
        Layout.preferredHeight: metrics.height
        Layout.alignment: Qt.AlignTop
        SymbolIcon {
            objectName: "icon"
            anchors.centerIn: parent
            name: row.icon
            size: 16
            color: row.color
        }
    }
    Label {
        id: label
        objectName: "text"
        text: row.text
        textFormat: Text.PlainText
        font.pixelSize: Theme.subheadlineSize
        color: Theme.primary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignTop
        Accessible.role: Accessible.StaticText
        Accessible.name: row.text
    }
    FontMetrics { id: metrics; font: label.font }
}
