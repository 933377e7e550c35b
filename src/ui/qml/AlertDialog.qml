import QtQuick
import QtQuick.Controls
import Hushwing

// An alert with a title, a text, an optional second paragraph saying what to
// do, and one "OK" button, centred over its parent. It opens with the focus on
// OK (Space or Return dismisses it, Escape too), and a screen reader reads it
// as an alert: its title, then its text and the second paragraph.
Dialog {
    id: alert
    property string text
    property string informativeText

    x: Math.round((parent.width - width) / 2)
    y: Math.round((parent.height - height) / 2)
    width: Math.min(360, parent.width - 40)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 20
    topPadding: 8

    onOpened: okButton.forceActiveFocus(Qt.PopupFocusReason)
    // What a screen reader reads of the dialog itself (the item that holds
    // the popup's content stands for the popup).
    Component.onCompleted: {
        const item = contentItem.parent
        item.Accessible.name = Qt.binding(() => alert.title)
        item.Accessible.description = Qt.binding(() => [alert.text, alert.informativeText]
                                                           .filter(t => t.length > 0).join("\n"))
    }

    background: Rectangle {
        radius: 10
        color: Theme.panel
        border.color: Theme.panelBorder
    }

    header: Label {
        objectName: "alertTitle"
        text: alert.title
        color: Theme.primary
        font.pixelSize: Theme.headlineSize
        font.weight: Font.DemiBold
        wrapMode: Text.Wrap
        padding: 20
        bottomPadding: 0
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    Column {
        width: parent.width
        spacing: 10
        Label {
            objectName: "alertText"
            width: parent.width
            text: alert.text
            color: Theme.primary
            font.pixelSize: Theme.bodySize
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Label {
            objectName: "alertInformativeText"
            visible: text.length > 0
            width: parent.width
            text: alert.informativeText
            color: Theme.secondary
            font.pixelSize: Theme.subheadlineSize
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    footer: DialogButtonBox {
        alignment: Qt.AlignRight
        padding: 20
        topPadding: 0
        background: null
        PlainButton {
            id: okButton
            objectName: "alertOKButton"
            text: qsTr("OK")
            leftPadding: 18
            rightPadding: 18
            topPadding: 6
            bottomPadding: 6
            DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
            contentItem: Text {
                text: okButton.text
                color: Theme.onAccent
                font.pixelSize: Theme.bodySize
                font.weight: Font.Medium
                horizontalAlignment: Text.AlignHCenter
            }
            background: Rectangle {
                radius: okButton.radius
                color: Theme.accentFill
            }
        }
    }
}
