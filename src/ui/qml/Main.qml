import QtQuick
import QtQuick.Controls
import Hushwing

// The one window: 640 by 800 on first opening, titled with the program's name,
// showing the chat screen for the program's view model. The chat screen's tool
// bar is the window's header bar.
ApplicationWindow {
    id: window
    required property ChatViewModel vm
    // Why this window neither restores nor saves the conversation, when it
    // cannot (another copy of the program is using the store); else empty.
    property string storeNotice: ""

    width: 640
    height: 800
    visible: true
    title: AppConfig.appName

    header: Label {
        objectName: "storeNotice"
        visible: window.storeNotice !== ""
        text: window.storeNotice
        wrapMode: Text.Wrap
        padding: 8
        color: Theme.primary
        background: Rectangle { color: Theme.panel }
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }

    ChatView {
        anchors.fill: parent
        vm: window.vm
    }
}
