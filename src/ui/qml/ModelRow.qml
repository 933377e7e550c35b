import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// One model in the chooser. The whole line is one flat button; its status mark
// says "Unavailable" (whether or not selected) before it ever shows the checkmark.
// A screen reader hears the status and the detail line as its description.
AbstractButton {
    id: row

    required property QtObject backend
    required property bool isSelected
    signal select()

    readonly property var info: backend ? backend.info : null
    readonly property string name: info ? info.name : ""
    readonly property bool hasDetail: info ? info.hasDetail : false
    readonly property string detail: hasDetail ? info.detail : ""
    // Availability is a question asked of the backend, not a notifying
    // property: it is asked again whenever the row is shown.
    property bool available: false
    function readAvailability() { available = backend ? backend.isAvailable : false }
    onBackendChanged: readAvailability()
    onVisibleChanged: if (visible) readAvailability()
    Component.onCompleted: readAvailability()
    readonly property bool showsUnavailable: !available
    readonly property bool showsCheckmark: available && isSelected

    SystemPalette { id: palette; colorGroup: SystemPalette.Active }

    implicitWidth: 320
    implicitHeight: content.implicitHeight + 12
    hoverEnabled: true

    onClicked: row.select()
    Accessible.role: Accessible.Button
    Accessible.name: name
    Accessible.description: [showsUnavailable ? unavailableLabel.text : "", detail].filter(t => t.length > 0).join(", ")
    Accessible.onPressAction: row.clicked()

    background: Rectangle {
        color: row.down ? Qt.rgba(0.5, 0.5, 0.5, 0.2) : row.hovered ? Qt.rgba(0.5, 0.5, 0.5, 0.1) : "transparent"
        radius: 6
    }

    contentItem: RowLayout {
        id: content
        spacing: 8

        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true
            Label {
                objectName: "nameLabel"
                text: row.name
                textFormat: Text.PlainText
                font.pixelSize: 13
                font.weight: Font.Medium
                color: palette.windowText
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Label {
                objectName: "detailLabel"
                visible: row.hasDetail
                text: row.detail
                textFormat: Text.PlainText
                font.pixelSize: 11
                color: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.55)
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }

        Label {
            id: unavailableLabel
            objectName: "unavailableLabel"
            visible: row.showsUnavailable
            text: "Unavailable"
            font.pixelSize: 11
            color: "orange"
        }
        SymbolIcon {
            objectName: "checkmark"
            visible: row.showsCheckmark
            name: "checkmark"
            size: 14
            color: palette.highlight
        }
    }
}
