import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// One model in the chooser. The whole line is one flat button; its status mark
// says "Unavailable" (whether or not selected) before it ever shows the
// checkmark. Long names and details wrap rather than being cut. A screen
// reader hears it as one of a set of radio buttons, checked when selected,
// with the status, the detail line and the chooser's note below the row (if
// any) as its description.
// Space or Return chooses it; a ring shows the keyboard focus.
RadioButton {
    id: row

    required property QtObject backend
    required property bool isSelected
    // Whether Tab stops here (the chooser makes one row of its list the stop).
    property bool tabStop: true
    // A sentence the chooser shows below the row, which a screen reader hears
    // with the row.
    property string note
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

    function activate() { row.clicked() }

    implicitWidth: 320
    padding: 6
    leftPadding: 8
    rightPadding: 8
    spacing: 0
    hoverEnabled: true
    focusPolicy: tabStop ? Qt.StrongFocus : Qt.ClickFocus
    text: name
    // The selection is the manager's; a click only asks for it.
    checkable: false
    autoExclusive: false
    checked: isSelected
    indicator: null

    onClicked: row.select()
    Keys.onReturnPressed: activate()
    Keys.onEnterPressed: activate()
    Accessible.name: name
    Accessible.description: [[showsUnavailable ? unavailableLabel.text : "", detail].filter(t => t.length > 0).join(", "), note]
                                .filter(t => t.length > 0).join(". ")
    Accessible.onPressAction: activate()

    background: Rectangle {
        radius: 6
        color: row.down ? Theme.pressedFill : row.hovered ? Theme.hoverFill : Theme.clear
        FocusRing {
            shown: row.activeFocus
            outset: -1
            radius: 6
        }
    }

    contentItem: RowLayout {
        spacing: 8

        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true
            Label {
                objectName: "nameLabel"
                text: row.name
                textFormat: Text.PlainText
                font.pixelSize: Theme.subheadlineSize
                font.weight: Font.Medium
                color: Theme.primary
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                Layout.fillWidth: true
            }
            Label {
                objectName: "detailLabel"
                visible: row.hasDetail
                text: row.detail
                textFormat: Text.PlainText
                font.pixelSize: Theme.captionSize
                color: Theme.secondary
                wrapMode: Text.WrapAtWordBoundaryOrAnywhere
                Layout.fillWidth: true
            }
        }

        Label {
            id: unavailableLabel
            objectName: "unavailableLabel"
            visible: row.showsUnavailable
            text: qsTr("Unavailable")
            font.pixelSize: Theme.captionSize
            color: Theme.orange
        }
        SymbolIcon {
            objectName: "checkmark"
            visible: row.showsCheckmark
            name: "checkmark"
            size: Theme.subheadlineSize + 1
            color: Theme.accent
        }
    }
}
