import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The model chooser's content: the on-device model, then the local Ollama
// server's models with a refresh button. Every time it appears it asks the
// manager to rediscover the Ollama models. Choosing a row only selects it.
Pane {
    id: root

    required property ModelManager modelManager

    readonly property bool refreshing: modelManager.isRefreshing
    readonly property var ollamaBackends: modelManager.ollamaBackends

    SystemPalette { id: palette; colorGroup: SystemPalette.Active }
    readonly property color secondaryColor: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                                    palette.windowText.b, 0.55)

    width: 360
    padding: 12

    function refresh() {
        if (!root.modelManager.isRefreshing)
            root.modelManager.refresh()
    }

    // Each opening rediscovers the models; it does not wait for a running one.
    onVisibleChanged: if (visible) root.modelManager.refresh()
    Component.onCompleted: if (visible) root.modelManager.refresh()

    contentItem: ColumnLayout {
        spacing: 6

        Label {
            text: "Models"
            font.pixelSize: 15
            font.weight: Font.DemiBold
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }

        // On-device model
        Label {
            text: "Apple Intelligence"
            font.pixelSize: 12
            font.weight: Font.DemiBold
            color: root.secondaryColor
            Layout.topMargin: 6
        }
        ModelRow {
            objectName: "aiRow"
            backend: root.modelManager.aiBackend
            isSelected: root.modelManager.selectedID === root.modelManager.aiBackend.info.id
            onSelect: root.modelManager.select(root.modelManager.aiBackend)
            Layout.fillWidth: true
        }
        Label {
            text: "Default on-device model. Private, offline, no setup needed."
            font.pixelSize: 11
            color: root.secondaryColor
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        // Ollama models
        RowLayout {
            Layout.topMargin: 10
            Layout.fillWidth: true
            Label {
                text: "Other Models"
                font.pixelSize: 12
                font.weight: Font.DemiBold
                color: root.secondaryColor
            }
            Item { Layout.fillWidth: true }
            AbstractButton {
                id: refreshButton
                objectName: "refreshButton"
                enabled: !root.refreshing
                implicitWidth: 24
                implicitHeight: 24
                onClicked: root.refresh()
                Accessible.role: Accessible.Button
                Accessible.name: "Refresh Models"
                Accessible.onPressAction: refreshButton.clicked()
                contentItem: Item {
                    SymbolIcon {
                        objectName: "refreshIcon"
                        anchors.centerIn: parent
                        name: root.refreshing ? "arrow.clockwise.circle.fill" : "arrow.clockwise"
                        size: 14
                        color: palette.highlight
                        opacity: root.refreshing ? 0.5 : 1
                    }
                }
                background: Item {}
            }
        }

        RowLayout {
            objectName: "noModelsLine"
            visible: root.ollamaBackends.length === 0
            spacing: 10
            Layout.topMargin: 4
            Layout.bottomMargin: 4
            Layout.fillWidth: true
            SymbolIcon {
                name: "info.circle"
                size: 16
                color: root.secondaryColor
            }
            ColumnLayout {
                spacing: 2
                Layout.fillWidth: true
                Label {
                    text: "No Ollama models found"
                    font.pixelSize: 13
                    Layout.fillWidth: true
                }
                Label {
                    text: "Start Ollama and tap \u21BA to refresh."
                    font.pixelSize: 11
                    color: root.secondaryColor
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }
        }

        // A new list (the manager replaces it on every refresh) rebuilds the rows.
        Repeater {
            id: ollamaRows
            objectName: "ollamaRows"
            model: root.ollamaBackends
            delegate: ModelRow {
                required property QtObject modelData
                backend: modelData
                isSelected: root.modelManager.selectedID === modelData.info.id
                onSelect: root.modelManager.select(modelData)
                Layout.fillWidth: true
            }
        }

        Label {
            text: "For advanced users. Manage and download models via the Ollama app."
            font.pixelSize: 11
            color: root.secondaryColor
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
