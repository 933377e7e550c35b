import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The model chooser's content: the on-device model, with the folder its model
// file is read from and a button that opens it, then the local Ollama server's
// models with a refresh button, in a list that scrolls when it does not fit.
// Every time it appears it asks the manager to rediscover the Ollama models.
// Choosing a row only selects it.
//
// Keyboard: the list is one Tab stop; Up, Down, Page Up, Page Down, Home and
// End move between its rows, Space or Return chooses one. The focused row is
// kept in view, and keeps the focus when a refresh rebuilds the rows. The
// folder button and the refresh button are Tab stops of their own.
Pane {
    id: root

    required property ModelManager modelManager

    readonly property bool refreshing: modelManager.isRefreshing
    readonly property var ollamaBackends: modelManager.ollamaBackends
    readonly property alias scroller: scroller
    // The row that has, or last had, the focus (by model id): the list's Tab stop.
    property string currentID: modelManager.selectedID
    // Where the on-device model's file goes, and why the folder did not open
    // (empty while it has not failed since the panel appeared).
    readonly property string modelFolderNote: ModelFolderGuide.rowNote()
    property string folderFailure

    implicitWidth: 360
    implicitHeight: title.height + scroller.contentHeight
    width: implicitWidth
    padding: 0
    background: null

    function refresh() {
        if (!root.modelManager.isRefreshing)
            root.modelManager.refresh()
    }

    // Each opening rediscovers the models; it does not wait for a running one.
    onVisibleChanged: {
        if (!visible)
            return
        root.folderFailure = ""
        root.modelManager.refresh()
    }
    Component.onCompleted: if (visible) root.modelManager.refresh()

    function rows() {
        const list = [aiRow]
        for (let i = 0; i < ollamaRows.count; ++i)
            list.push(ollamaRows.itemAt(i))
        return list
    }
    function focusRow(row) {
        row.forceActiveFocus(Qt.TabFocusReason)
        scroller.show(row)
    }
    // The selected row, or the first: where the focus goes when the panel opens.
    function focusSelectedRow() {
        focusRow(rows().find(row => row.isSelected) || aiRow)
    }
    function moveFocus(step) {
        const list = rows()
        const from = list.findIndex(row => row.activeFocus)
        focusRow(list[Math.max(0, Math.min(list.length - 1, (from < 0 ? 0 : from) + step))])
    }
    function rowsPerPage() {
        return Math.max(1, Math.floor(scroller.height / Math.max(1, aiRow.height)) - 1)
    }

    // A rebuilt list (every refresh makes new rows) leaves the focus with the
    // panel itself: give it back to the row of the same model, or the selected one.
    function focusLost() {
        const focused = root.Window.activeFocusItem
        if (!root.visible || !focused)
            return false
        for (let item = root; item; item = item.parent)
            if (item === focused)
                return true
        return false
    }
    function keepFocus() {
        if (focusLost())
            focusSelectedRow()
    }

    onOllamaBackendsChanged: Qt.callLater(keepFocus)

    Keys.onUpPressed: moveFocus(-1)
    Keys.onDownPressed: moveFocus(1)
    Keys.onPressed: (event) => {
        if (event.key === Qt.Key_PageUp)
            moveFocus(-rowsPerPage())
        else if (event.key === Qt.Key_PageDown)
            moveFocus(rowsPerPage())
        else if (event.key === Qt.Key_Home)
            moveFocus(-rows().length)
        else if (event.key === Qt.Key_End)
            moveFocus(rows().length)
        else
            return
        event.accepted = true
    }

    component SectionHeading: Label {
        font.pixelSize: Theme.footnoteSize
        font.weight: Font.DemiBold
        color: Theme.secondary
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }
    component Caption: Label {
        font.pixelSize: Theme.captionSize
        color: Theme.secondary
        wrapMode: Text.Wrap
        Accessible.role: Accessible.StaticText
        Accessible.name: text
    }

    contentItem: Item {
        Label {
            id: title
            x: 16
            width: parent.width - 32
            topPadding: 12
            bottomPadding: 6
            text: "Models"
            color: Theme.primary
            font.pixelSize: Theme.headlineSize
            font.weight: Font.DemiBold
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }

        Flickable {
            id: scroller
            objectName: "modelList"
            anchors.top: title.bottom
            anchors.bottom: parent.bottom
            width: parent.width
            contentWidth: width
            contentHeight: list.height
            flickableDirection: Flickable.VerticalFlick
            boundsBehavior: Flickable.StopAtBounds
            clip: true
            ScrollBar.vertical: ScrollBar {
                objectName: "modelListScrollBar"
                policy: ScrollBar.AsNeeded
            }

            // Scrolls so that `row` is in view; the first row brings the top of
            // the list with it, the last row the footer.
            function show(row) {
                list.forceLayout()
                const all = root.rows()
                if (row === all[0]) {
                    contentY = 0
                } else if (row === all[all.length - 1]) {
                    contentY = Math.max(0, contentHeight - height)
                } else {
                    const top = row.mapToItem(list, 0, 0).y
                    if (top - 8 < contentY)
                        contentY = Math.max(0, top - 8)
                    else if (top + row.height + 8 > contentY + height)
                        contentY = Math.min(contentHeight - height, top + row.height + 8 - height)
                }
            }

            Column {
                id: list
                readonly property real innerWidth: width - leftPadding - rightPadding
                width: scroller.width
                leftPadding: 12
                rightPadding: 16
                bottomPadding: 12
                spacing: 4

                // On-device model
                SectionHeading {
                    text: "Apple Intelligence"
                    topPadding: 6
                }
                ModelRow {
                    id: aiRow
                    objectName: "aiRow"
                    width: list.innerWidth
                    backend: root.modelManager.aiBackend
                    isSelected: root.modelManager.selectedID === root.modelManager.aiBackend.info.id
                    tabStop: root.currentID === info.id || !root.rows().some(row => row.info.id === root.currentID)
                    onSelect: root.modelManager.select(root.modelManager.aiBackend)
                    note: root.modelFolderNote
                    onActiveFocusChanged: if (activeFocus) root.currentID = info.id
                }
                // Where its model file goes, and the way there.
                ColumnLayout {
                    objectName: "modelFolderLine"
                    width: list.innerWidth
                    spacing: 0
                    Caption {
                        objectName: "modelFolderText"
                        text: root.modelFolderNote
                        leftPadding: 8
                        rightPadding: 8
                        Layout.fillWidth: true
                    }
                    PlainButton {
                        id: openFolderButton
                        objectName: "openModelFolderButton"
                        text: "Open Models Folder"
                        Layout.leftMargin: 4
                        ringOutset: -1
                        Accessible.description: root.folderFailure || ModelFolderGuide.folderText()
                        contentItem: Label {
                            text: openFolderButton.text
                            color: Theme.accent
                            font.pixelSize: Theme.footnoteSize
                            font.weight: Font.Medium
                        }
                        onClicked: root.folderFailure = DesktopActions.openModelFolder()
                    }
                    Caption {
                        objectName: "modelFolderFailure"
                        visible: text.length > 0
                        text: root.folderFailure
                        color: Theme.orange
                        leftPadding: 8
                        rightPadding: 8
                        Layout.fillWidth: true
                    }
                }
                Caption {
                    width: list.innerWidth
                    text: "Default on-device model. Private, offline, no setup needed."
                }

                // Ollama models
                RowLayout {
                    width: list.innerWidth
                    SectionHeading {
                        text: "Other Models"
                        topPadding: 10
                        Layout.alignment: Qt.AlignBottom
                    }
                    Item { Layout.fillWidth: true }
                    PlainButton {
                        id: refreshButton
                        objectName: "refreshButton"
                        enabled: !root.refreshing
                        Layout.alignment: Qt.AlignBottom
                        text: "Refresh Models"
                        background: null
                        ringOutset: -1
                        contentItem: SymbolIcon {
                            objectName: "refreshIcon"
                            name: root.refreshing ? "arrow.clockwise.circle.fill" : "arrow.clockwise"
                            size: Theme.captionSize + 3
                            color: Theme.accent
                            opacity: root.refreshing ? 0.5 : 1
                        }
                        onClicked: root.refresh()
                    }
                }

                RowLayout {
                    objectName: "noModelsLine"
                    visible: root.ollamaBackends.length === 0
                    width: list.innerWidth
                    spacing: 10
                    SymbolIcon {
                        name: "info.circle"
                        size: Theme.subheadlineSize + 3
                        color: Theme.secondary
                        Layout.topMargin: 4
                        Layout.bottomMargin: 4
                    }
                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true
                        Layout.topMargin: 4
                        Layout.bottomMargin: 4
                        Label {
                            text: "No Ollama models found"
                            color: Theme.primary
                            font.pixelSize: Theme.subheadlineSize
                            wrapMode: Text.Wrap
                            Layout.fillWidth: true
                            Accessible.role: Accessible.StaticText
                            Accessible.name: text
                        }
                        Caption {
                            text: "Start Ollama and tap \u21BA to refresh."
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
                        width: list.innerWidth
                        backend: modelData
                        isSelected: root.modelManager.selectedID === modelData.info.id
                        tabStop: root.currentID === modelData.info.id
                        onSelect: root.modelManager.select(modelData)
                        onActiveFocusChanged: if (activeFocus) root.currentID = modelData.info.id
                    }
                    onItemAdded: (index, item) => {
                        if (item.info.id === root.currentID && root.focusLost())
                            root.focusRow(item)
                    }
                }

                Caption {
                    width: list.innerWidth
                    text: "For advanced users. Manage and download models via the Ollama app."
                }
            }
        }
    }
}
