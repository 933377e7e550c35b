import QtQuick
import QtQuick.Controls
import Hushwing

// The welcome shown while the conversation is empty: the program's name and
// promise, the welcome text, the on-device model's label and the writing-mode chips.
Column {
    id: emptyState
    required property ChatViewModel vm

    objectName: "emptyState"
    spacing: 12
    topPadding: 60

    SymbolIcon {
        anchors.horizontalCenter: parent.horizontalCenter
        name: "brain"
        color: Theme.secondary
        size: 52
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        text: AppConfig.appName
        color: Theme.primary
        font.pixelSize: Theme.title2Size
        font.weight: Font.Medium
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    Text {
        anchors.horizontalCenter: parent.horizontalCenter
        text: AppConfig.tagline
        color: Theme.secondary
        font.pixelSize: Theme.subheadlineSize
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
            color: Theme.welcomeFill
            Text {
                id: welcomeText
                x: 12
                y: 8
                width: parent.width - 24
                text: AppConfig.welcomeMessage
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                color: Theme.primary
                font.pixelSize: Theme.bodySize
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
            color: Theme.tertiary
            size: Theme.captionSize + 1
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: AppConfig.modelLabel
            color: Theme.tertiary
            font.pixelSize: Theme.captionSize
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    // The chips scroll sideways when the window is too narrow for them.
    Item {
        width: parent.width
        height: chips.height
        Flickable {
            id: chips
            objectName: "writingModeChips"
            width: parent.width
            height: chipRow.height
            contentWidth: chipRow.width
            contentHeight: chipRow.height
            flickableDirection: Flickable.HorizontalFlick
            boundsBehavior: Flickable.StopAtBounds
            interactive: contentWidth > width
            clip: true

            function show(chip) {
                const left = chip.mapToItem(chipRow, 0, 0).x + chipRow.x
                if (left - 24 < contentX)
                    contentX = Math.max(0, left - 24)
                else if (left + chip.width + 24 > contentX + width)
                    contentX = Math.min(contentWidth - width, left + chip.width + 24 - width)
            }

            Row {
                id: chipRow
                // Centred while the chips fit, from the leading edge once they scroll.
                x: Math.max(0, (chips.width - width) / 2)
                leftPadding: 24
                rightPadding: 24
                // Room for a chip's focus ring, which the scrolling area would cut.
                topPadding: 4
                bottomPadding: 4
                spacing: 8

                Repeater {
                    model: AppConfig.writingModes
                    ModeChip {
                        required property var modelData
                        mode: modelData
                        active: emptyState.vm.hasActiveMode && emptyState.vm.activeModeID === modelData.id
                        onClicked: emptyState.vm.setMode(modelData.id)
                        // A chip reached with Tab scrolls into view.
                        onActiveFocusChanged: if (activeFocus) chips.show(this)
                    }
                }
            }
        }
    }
}
