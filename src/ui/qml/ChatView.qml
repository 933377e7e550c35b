import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The chat screen: the conversation, the writing-mode bar, the input bar, the
// header bar with its two tool items, and what they open (the model chooser,
// the About sheet and the alert for a refused send). It decides nothing itself:
// it shows the view model's fields and calls its operations.
//
// Keyboard: Tab and Shift+Tab go round New Chat, More, the writing-mode chips,
// the mode bar's Clear button, the conversation, the message field and
// Send/Stop. Whatever a popup opened from, closing it gives the focus back there.
Page {
    id: chatView
    required property ChatViewModel vm

    property bool showingAbout: false
    property bool showingModels: false

    readonly property bool canStartNewChat: vm.messages.count > 0 || vm.isGenerating
    readonly property bool showsModeBar: vm.hasActiveMode && vm.messages.count === 0
    readonly property alias messageList: messageList
    readonly property alias inputBar: inputBar
    readonly property alias toolBar: toolBar

    // The new-chat command, from the button or Ctrl+N; nothing while disabled
    // (assistive technology may still press a disabled button).
    function startNewChat() {
        if (canStartNewChat)
            vm.newChat()
    }

    objectName: "chatView"
    title: AppConfig.appName
    padding: 0
    background: Rectangle { color: Theme.background }

    header: ChatToolBar {
        id: toolBar
        vm: chatView.vm
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
            // An empty conversation has nothing to read: the Tab key passes
            // over it to the writing-mode chips it shows.
            activeFocusOnTab: chatView.vm.messages.count > 0
        }

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Theme.divider
        }

        ModeBar {
            objectName: "modeBar"
            Layout.fillWidth: true
            visible: chatView.showsModeBar
            vm: chatView.vm
        }

        InputBar {
            id: inputBar
            objectName: "inputBar"
            Layout.fillWidth: true
            vm: chatView.vm
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

    // Where the keyboard focus was when a popup opened: it goes back there
    // when the popup closes (a menu entry counts as the button of its menu).
    property Item focusBeforePopup: null
    function rememberFocus() {
        const item = chatView.Window.activeFocusItem
        focusBeforePopup = toolBar.menu && toolBar.menu.visible ? toolBar.focusBeforeMenu : item
    }
    function restoreFocus() {
        const item = focusBeforePopup
        focusBeforePopup = null
        if (item && item.visible && item.enabled)
            item.forceActiveFocus(Qt.PopupFocusReason)
        else
            inputBar.focusField()
    }

    // The popups are built the first time they are needed (most sessions never
    // open them; building them would delay the window's first frame) and kept.
    function showPopup(loader, shown) {
        if (shown) {
            rememberFocus()
            loader.active = true
        }
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
        sourceComponent: PanelPopup {
            id: modelsPopover
            parent: chatView.Overlay.overlay
            objectName: "modelsPopover"
            title: qsTr("Models")
            width: Math.min(modelsView.implicitWidth, parent.width - 40)
            height: Math.min(modelsView.implicitHeight, parent.height - 40)
            modal: false
            closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
            onOpened: modelsView.focusSelectedRow()
            onClosed: {
                chatView.showingModels = false
                chatView.restoreFocus()
            }
            contentItem: ModelsView {
                id: modelsView
                modelManager: chatView.vm.modelManager
            }
        }
    }

    // The About sheet. It has no close control of its own: Escape or a click
    // outside closes it. The text scrolls when the window is short.
    Loader {
        id: aboutLoader
        active: false
        sourceComponent: PanelPopup {
            id: aboutSheet
            parent: chatView.Overlay.overlay
            objectName: "aboutSheet"
            title: qsTr("About %1").arg(AppConfig.appName)
            width: Math.min(aboutView.width, parent.width - 40)
            height: Math.min(aboutView.implicitHeight, parent.height - 40)
            modal: true
            closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
            onOpened: aboutView.forceActiveFocus(Qt.PopupFocusReason)
            onClosed: {
                chatView.showingAbout = false
                chatView.restoreFocus()
            }
            contentItem: AboutView {
                id: aboutView
            }
        }
    }

    // A refused send. Closing it in any way clears the error, so it comes back
    // only for a new one. It opens with the focus on OK, and a screen reader
    // reads it as an alert: its title, then its text.
    Loader {
        id: alertLoader
        active: false
        sourceComponent: AlertDialog {
            id: alert
            objectName: "availabilityAlert"
            parent: chatView.Overlay.overlay
            title: qsTr("Apple Intelligence Unavailable")
            text: chatView.vm.availabilityError
            informativeText: ModelFolderGuide.refusalHint(text)
            onClosed: {
                if (chatView.vm.hasAvailabilityError)
                    chatView.vm.dismissAvailabilityError()
                chatView.restoreFocus()
            }
        }
    }

    Connections {
        target: chatView.vm
        function onAvailabilityErrorChanged() {
            chatView.showPopup(alertLoader, chatView.vm.hasAvailabilityError)
        }
    }

    // Qt sends no focus event to an item that already has the focus when its
    // window becomes active, so a screen reader would not say where the focus
    // is: tell it again on every activation.
    Connections {
        target: chatView.Window.window
        function onActiveChanged() {
            const window = chatView.Window.window
            if (window.active)
                ScreenReader.announceFocus(window.activeFocusItem)
        }
    }

    Component.onCompleted: {
        if (vm.hasAvailabilityError)
            showPopup(alertLoader, true)
        inputBar.focusField()
    }
}
