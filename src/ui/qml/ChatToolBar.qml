import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The window's header bar: the title with the selected model as subtitle, the
// new-chat button and the menu with "Models" and "About".
ToolBar {
    id: toolBar
    required property ChatViewModel vm
    required property bool canStartNewChat

    signal newChatRequested()
    signal modelsRequested()
    signal aboutRequested()

    // The menu is built the first time it opens.
    readonly property Menu menu: menuLoader.item
    // Where the keyboard focus was when the menu opened: it goes back there
    // when the menu closes without a choice, and an entry's popup gives it
    // back there when it closes.
    property Item focusBeforeMenu: null
    property bool entryChosen: false

    function choose(request) {
        entryChosen = true
        request()
    }

    function toggleMenu() {
        menuLoader.active = true
        const menu = menuLoader.item
        if (menu.opened) {
            menu.close()
            return
        }
        focusBeforeMenu = toolBar.Window.activeFocusItem
        menu.popup(moreButton, moreButton.width - menu.width, moreButton.height)
    }

    background: Rectangle {
        color: Theme.panel
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: Theme.divider
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 6
        spacing: 4

        Column {
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
            topPadding: 6
            bottomPadding: 6
            Text {
                objectName: "windowTitle"
                width: parent.width
                text: AppConfig.appName
                color: Theme.primary
                font.pixelSize: Theme.bodySize
                font.weight: Font.DemiBold
                elide: Text.ElideRight
                Accessible.role: Accessible.TitleBar
                Accessible.name: text
            }
            Text {
                objectName: "windowSubtitle"
                width: parent.width
                text: toolBar.vm.modelManager.selectedSubtitle
                color: Theme.secondary
                font.pixelSize: Theme.captionSize
                elide: Text.ElideRight
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        PlainButton {
            id: newChatButton
            objectName: "newChatButton"
            enabled: toolBar.canStartNewChat
            text: qsTr("New Chat")
            contentItem: SymbolIcon {
                name: "square.and.pencil"
                color: newChatButton.enabled ? Theme.primary : Theme.tertiary
                size: Theme.bodySize + 4
            }
            ToolTip.visible: hovered
            ToolTip.text: text
            onClicked: toolBar.newChatRequested()
        }

        PlainButton {
            id: moreButton
            objectName: "moreButton"
            text: qsTr("More")
            contentItem: SymbolIcon {
                name: "ellipsis.circle"
                size: Theme.bodySize + 4
            }
            onClicked: toolBar.toggleMenu()
            Accessible.role: Accessible.ButtonMenu

            Loader {
                id: menuLoader
                active: false
                sourceComponent: Menu {
                    id: moreMenu
                    objectName: "moreMenu"
                    title: moreButton.text
                    parent: moreButton
                    padding: 4
                    // Opened from the keyboard or the mouse, its first entry is
                    // current, so a screen reader says where the focus is.
                    // A screen reader reads the menu by its button's name.
                    Component.onCompleted: contentItem.parent.Accessible.name = title
                    onOpened: {
                        toolBar.entryChosen = false
                        currentIndex = 0
                        itemAt(0).forceActiveFocus(Qt.PopupFocusReason)
                    }
                    onClosed: {
                        const item = toolBar.focusBeforeMenu
                        if (!toolBar.entryChosen && item && item.visible)
                            item.forceActiveFocus(Qt.PopupFocusReason)
                    }
                    background: Rectangle {
                        implicitWidth: 180
                        radius: 8
                        color: Theme.panel
                        border.color: Theme.panelBorder
                    }
                    MenuEntry {
                        objectName: "modelsMenuItem"
                        text: qsTr("Models")
                        symbol: "cpu"
                        onTriggered: toolBar.choose(toolBar.modelsRequested)
                    }
                    MenuSeparator {
                        contentItem: Rectangle {
                            implicitHeight: 1
                            color: Theme.divider
                        }
                    }
                    MenuEntry {
                        objectName: "aboutMenuItem"
                        text: qsTr("About")
                        symbol: "info.circle"
                        onTriggered: toolBar.choose(toolBar.aboutRequested)
                    }
                }
            }
        }
    }
}
