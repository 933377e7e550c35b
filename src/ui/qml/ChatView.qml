import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The chat screen: the conversation, the writing-mode bar, the input bar, the
// header bar with its two tool items, and what they open (the model chooser,
// the About sheet and the alert for a refused send). It decides nothing itself:
// it shows the view model's fields and calls its operations.
Page {
    id: chatView
    required property ChatViewModel vm

    property bool showingAbout: false
    property bool showingModels: false

    readonly property bool canStartNewChat: vm.messageCount > 0 || vm.isGenerating
    readonly property bool showsModeBar: vm.hasActiveMode && vm.messageCount === 0
    readonly property alias theme: theme
    readonly property alias messageList: messageList
    readonly property alias inputBar: inputBar

    // The new-chat command, from the button or Ctrl+N; nothing while disabled
    // (assistive technology may still press a disabled button).
    function startNewChat() {
        if (canStartNewChat)
            vm.newChat()
    }

    objectName: "chatView"
    title: AppConfig.appName
    padding: 0
    background: Rectangle { color: "#FFFFFF" }

    ChatTheme { id: theme }

    header: ChatToolBar {
        vm: chatView.vm
        theme: theme
        canStartNewChat: chatView.canStartNewChat
        onNewChatRequested: chatView.startNewChat()
        onModelsRequested: chatView.showingModels = true
        onAboutRequested: chatView.showingAbout = true
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        MessageList {
            id: messageList
            Layout.fillWidth: true
            Layout.fillHeight: true
            vm: chatView.vm
            theme: theme
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: theme.divider
        }

        ModeBar {
            objectName: "modeBar"
            Layout.fillWidth: true
            visible: chatView.showsModeBar
            vm: chatView.vm
            theme: theme
        }

        InputBar {
            id: inputBar
            objectName: "inputBar"
            Layout.fillWidth: true
            vm: chatView.vm
            theme: theme
        }
    }

    // Ctrl+Return sends from anywhere in the window; send() ignores an empty
    // draft and a send while a reply runs.
    Shortcut {
        sequences: ["Ctrl+Return", "Ctrl+Enter"]
        context: Qt.WindowShortcut
        onActivated: chatView.vm.send()
    }

    Shortcut {
        sequences: [StandardKey.New]
        context: Qt.WindowShortcut
        onActivated: chatView.startNewChat()
    }

    // The popups are built the first time they are needed (most sessions never
    // open them; building them would delay the window's first frame) and kept.
    function showPopup(loader, shown) {
        if (shown)
            loader.active = true
        if (loader.item)
            shown ? loader.item.open() : loader.item.close()
    }
    onShowingModelsChanged: showPopup(modelsLoader, showingModels)
    onShowingAboutChanged: showPopup(aboutLoader, showingAbout)

    // The model chooser for the view model's own manager. Choosing a model keeps
    // it open; Escape or a click outside closes it.
    Loader {
        id: modelsLoader
        active: false
        sourceComponent: Popup {
            id: modelsPopover
            objectName: "modelsPopover"
            parent: chatView.Overlay.overlay
            x: Math.round((parent.width - width) / 2)
            y: Math.round((parent.height - height) / 2)
            width: Math.min(380, parent.width - 40)
            height: Math.min(460, parent.height - 80)
            padding: 0
            focus: true
            modal: false
            closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
            onClosed: {
                chatView.showingModels = false
                inputBar.focusField()
            }
            background: Rectangle {
                radius: 10
                color: "#FFFFFF"
                border.color: Qt.rgba(0, 0, 0, 0.12)
            }
            contentItem: ModelsView {
                modelManager: chatView.vm.modelManager
            }
        }
    }

    // The About sheet. It has no close control of its own: Escape or a click
    // outside closes it.
    Loader {
        id: aboutLoader
        active: false
        sourceComponent: Popup {
            id: aboutSheet
            objectName: "aboutSheet"
            parent: chatView.Overlay.overlay
            x: Math.round((parent.width - width) / 2)
            y: Math.round((parent.height - height) / 2)
            width: Math.min(460, parent.width - 40)
            height: Math.min(620, parent.height - 60)
            padding: 0
            modal: true
            focus: true
            closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
            onClosed: {
                chatView.showingAbout = false
                inputBar.focusField()
            }
            background: Rectangle {
                radius: 12
                color: "#FFFFFF"
            }
            contentItem: AboutView {}
        }
    }

    // A refused send. Closing it in any way clears the error, so it comes back
    // only for a new one.
    Loader {
        id: alertLoader
        active: false
        sourceComponent: Dialog {
            id: alert
            objectName: "availabilityAlert"
            parent: chatView.Overlay.overlay
            x: Math.round((parent.width - width) / 2)
            y: Math.round((parent.height - height) / 2)
            width: Math.min(360, parent.width - 40)
            modal: true
            focus: true
            title: qsTr("Apple Intelligence Unavailable")
            closePolicy: Popup.CloseOnEscape

            Label {
                objectName: "availabilityAlertText"
                width: parent.width
                text: chatView.vm.availabilityError
                wrapMode: Text.Wrap
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            footer: DialogButtonBox {
                Button {
                    id: okButton
                    objectName: "alertOKButton"
                    text: qsTr("OK")
                    DialogButtonBox.buttonRole: DialogButtonBox.AcceptRole
                    Accessible.name: qsTr("OK")
                    Accessible.onPressAction: okButton.clicked()
                }
            }

            onClosed: {
                if (chatView.vm.hasAvailabilityError)
                    chatView.vm.dismissAvailabilityError()
                inputBar.focusField()
            }
        }
    }

    Connections {
        target: chatView.vm
        function onAvailabilityErrorChanged() {
            chatView.showPopup(alertLoader, chatView.vm.hasAvailabilityError)
        }
    }

    Component.onCompleted: {
        if (vm.hasAvailabilityError)
            showPopup(alertLoader, true)
        inputBar.focusField()
    }
}
