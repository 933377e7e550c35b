import QtQuick
import QtQuick.Controls
import Hushwing

// A panel over the chat screen (the model chooser, the About sheet): centred,
// in the theme's raised colour, holding the keyboard focus while open, named
// for screen readers by `title`.
Popup {
    id: panel
    property string title

    x: Math.round((parent.width - width) / 2)
    y: Math.round((parent.height - height) / 2)
    padding: 0
    focus: true
    background: Rectangle {
        radius: 10
        color: Theme.panel
        border.color: Theme.panelBorder
    }

    // The item that holds the popup's content stands for the popup.
    Component.onCompleted: contentItem.parent.Accessible.name = Qt.binding(() => panel.title)
}
