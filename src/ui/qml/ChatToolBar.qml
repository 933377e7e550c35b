import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The window's header bar: the title with the selected model as subtitle, the
// new-chat button and the menu with "Models" and "About".
ToolBar {
    id: toolBar
    required property ChatViewModel vm
    required property ChatTheme theme
    required property bool canStartNewChat

    signal newChatRequested()
    signal modelsRequested()
    signal aboutRequested()

    // The menu is built the first time it opens.
    readonly property Menu menu: menuLoader.item

    function symbolUrl(name) { return "image://symbol/" + name }

    background: Rectangle {
        color: "#F6F6F6"
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: toolBar.theme.divider
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
                color: toolBar.theme.primary
                font.pixelSize: 14
                font.weight: Font.DemiBold
                elide: Text.ElideRight
                Accessible.role: Accessible.TitleBar
                Accessible.name: text
            }
            Text {
                objectName: "windowSubtitle"
                width: parent.width
                text: toolBar.vm.modelManager.selectedSubtitle
                color: toolBar.theme.secondary
                font.pixelSize: 11
                elide: Text.ElideRight
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        ToolButton {
            id: newChatButton
            objectName: "newChatButton"
            enabled: toolBar.canStartNewChat
            focusPolicy: Qt.NoFocus
            icon.source: toolBar.symbolUrl("square.and.pencil")
            icon.color: enabled ? toolBar.theme.primary : toolBar.theme.tertiary
            icon.width: 18
            icon.height: 18
            display: AbstractButton.IconOnly
            text: qsTr("New Chat")
            ToolTip.visible: hovered
            ToolTip.text: qsTr("New Chat")
            onClicked: toolBar.newChatRequested()
            Accessible.name: qsTr("New Chat")
            Accessible.onPressAction: newChatButton.clicked()
        }

        ToolButton {
            id: moreButton
            objectName: "moreButton"
            focusPolicy: Qt.NoFocus
            icon.source: toolBar.symbolUrl("ellipsis.circle")
            icon.color: toolBar.theme.primary
            icon.width: 18
            icon.height: 18
            display: AbstractButton.IconOnly
            text: qsTr("More")
            onClicked: {
                menuLoader.active = true
                const menu = menuLoader.item
                menu.opened ? menu.close() : menu.popup(moreButton, moreButton.width - menu.width, moreButton.height)
            }
            Accessible.name: qsTr("More")
            Accessible.role: Accessible.ButtonMenu
            Accessible.onPressAction: moreButton.clicked()

            Loader {
                id: menuLoader
                active: false
                sourceComponent: Menu {
                    id: moreMenu
                    objectName: "moreMenu"
                    parent: moreButton
                    MenuItem {
                        objectName: "modelsMenuItem"
                        text: qsTr("Models")
                        icon.source: toolBar.symbolUrl("cpu")
                        onTriggered: toolBar.modelsRequested()
                        Accessible.name: qsTr("Models")
                        Accessible.onPressAction: triggered()
                    }
                    MenuSeparator {}
                    MenuItem {
                        objectName: "aboutMenuItem"
                        text: qsTr("About")
                        icon.source: toolBar.symbolUrl("info.circle")
                        onTriggered: toolBar.aboutRequested()
                        Accessible.name: qsTr("About")
                        Accessible.onPressAction: triggered()
                    }
                }
            }
        }
    }
}
