import QtQuick
import QtQuick.Controls
import Hushwing

// The welcome shown while the conversation is empty: the program's name and
// promise, the welcome text, the on-device model's label and the writing-mode chips.
Column {
    id: emptyState
    required property ChatViewModel vm
    required property ChatTheme theme

    objectName: "emptyState"
    spacing: 12
    topPadding: 60

    SymbolIcon {
        anchors.horizontalCenter: parent.horizontalCenter
        name: "brain"
        color: emptyState.theme.secondary
        size: 52
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        text: AppConfig.appName
        color: emptyState.theme.primary
        font.pixelSize: emptyState.theme.title2Size
        font.weight: Font.Medium
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        text: AppConfig.tagline
        color: emptyState.theme.secondary
        font.pixelSize: emptyState.theme.subheadlineSize
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    // Welcome text on a soft rounded panel; 24 in from each side, 8 below the tagline.
    Item {
        width: parent.width
        height: welcome.height + 8
        Rectangle {
            id: welcome
            y: 8
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(welcomeText.implicitWidth + 24, parent.width - 48)
            height: welcomeText.height + 16
            radius: 16
            color: emptyState.theme.faded(emptyState.theme.secondary, 0.12)
            Text {
                id: welcomeText
                x: 12
                y: 8
                width: parent.width - 24
                text: AppConfig.welcomeMessage
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                color: emptyState.theme.primary
                font.pixelSize: 14
                lineHeight: 1.15
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }
    }

    Row {
        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 4
        SymbolIcon {
            anchors.verticalCenter: parent.verticalCenter
            name: "cpu"
            color: emptyState.theme.tertiary
            size: emptyState.theme.captionSize + 1
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: AppConfig.modelLabel
            color: emptyState.theme.tertiary
            font.pixelSize: emptyState.theme.captionSize
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    // The chips scroll sideways when the window is too narrow for them.
    Item {
        width: parent.width
        height: chips.height + 4
        Flickable {
            id: chips
            objectName: "writingModeChips"
            y: 4
            width: parent.width
            height: chipRow.height
            contentWidth: chipRow.width
            contentHeight: chipRow.height
            flickableDirection: Flickable.HorizontalFlick
            boundsBehavior: Flickable.StopAtBounds
            interactive: contentWidth > width
            clip: true

            Row {
                id: chipRow
                // Centred while the chips fit, from the leading edge once they scroll.
                x: Math.max(0, (chips.width - width) / 2)
                leftPadding: 24
                rightPadding: 24
                spacing: 8

                Repeater {
                    model: AppConfig.writingModes
                    ModeChip {
                        required property var modelData
                        mode: modelData
                        active: emptyState.vm.hasActiveMode && emptyState.vm.activeModeID === modelData.id
                        theme: emptyState.theme
                        onClicked: emptyState.vm.setMode(modelData.id)
                    }
                }
            }
        }
    }
}
