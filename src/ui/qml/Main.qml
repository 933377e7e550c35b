import QtQuick
import QtQuick.Controls
import Hushwing

// The one window: 640 by 800 on first opening, titled with the program's name.
// Its root view creates the chat view model on first appearance and then shows
// the chat screen, whose tool bar is the window's header bar.
ApplicationWindow {
    id: window
    // The store the program opened at start (a SessionStore).
    required property QtObject modelContext
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

    ContentView {
        id: content
        objectName: "contentView"
        anchors.fill: parent
        modelContext: window.modelContext

        Loader {
            anchors.fill: parent
            active: content.vm !== null
            sourceComponent: ChatView {
                vm: content.vm
            }
        }
    }
}
