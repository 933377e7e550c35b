import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The message field and the send/stop button. Return sends, Shift+Return breaks
// the line, and Return while an input method is still composing belongs to the
// input method. The field grows from one to six lines, then scrolls inside.
// Tab and Shift+Tab move the focus on; they never type into the draft.
Item {
    id: bar
    required property ChatViewModel vm

    // Grey while the draft is blank (spaces and tabs only), red while a reply runs.
    readonly property color sendButtonColor: vm.isGenerating ? Theme.red
                                             : DraftText.isBlank(vm.draft) ? Theme.secondary
                                             : Theme.accent
    readonly property alias field: field
    readonly property int maxLines: 6

    function focusField() { field.forceActiveFocus() }

    implicitHeight: row.implicitHeight + 20

    FontMetrics {
        id: metrics
        font: field.font
    }

    RowLayout {
        id: row
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.topMargin: 10
        anchors.bottomMargin: 10
        spacing: 8

        Rectangle {
            id: fieldBackground
            objectName: "fieldBackground"
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignBottom
            implicitHeight: scroller.height + 16
            radius: 20
            color: Theme.fieldFill
            border.color: field.activeFocus ? Theme.focusRing : Theme.clear
            border.width: Theme.focusRingWidth

            ScrollView {
                id: scroller
                x: 12
                y: 8
                width: parent.width - 24
                height: Math.min(field.implicitHeight,
                                 Math.ceil(metrics.lineSpacing * bar.maxLines) + field.topPadding + field.bottomPadding)
                ScrollBar.horizontal.policy: ScrollBar.AlwaysOff

                TextArea {
                    id: field
                    objectName: "messageField"
                    padding: 0
                    leftPadding: 0
                    rightPadding: 0
                    background: null
                    wrapMode: TextEdit.Wrap
                    placeholderText: qsTr("Message")
                    placeholderTextColor: Theme.secondary
                    color: Theme.primary
                    selectionColor: Theme.selection
                    selectedTextColor: Theme.selectionText
                    selectByMouse: true
                    font.pixelSize: Theme.bodySize
                    // Two-way with the draft. The text control normalises some
                    // characters (no-break spaces, CR LF); showing a draft must
                    // not rewrite it, so only edits made here are written back.
                    property bool showingDraft: false
                    function showDraft() {
                        if (text === bar.vm.draft)
                            return
                        showingDraft = true
                        text = bar.vm.draft
                        showingDraft = false
                    }
                    onTextChanged: if (!showingDraft && text !== bar.vm.draft) bar.vm.draft = text
                    Component.onCompleted: showDraft()
                    Connections {
                        target: bar.vm
                        function onDraftChanged() { field.showDraft() }
                    }

                    Keys.onTabPressed: (event) => bar.moveFocus(event, !(event.modifiers & Qt.ShiftModifier))
                    Keys.onBacktabPressed: (event) => bar.moveFocus(event, false)
                    Keys.onReturnPressed: (event) => bar.handleReturn(event)
                    Keys.onEnterPressed: (event) => bar.handleReturn(event)

                    Accessible.role: Accessible.EditableText
                    Accessible.name: qsTr("Message")
                    Accessible.multiLine: true
                }
            }
        }

        PlainButton {
            id: sendButton
            objectName: "sendButton"
            Layout.alignment: Qt.AlignBottom
            // Level with the field's last line.
            Layout.bottomMargin: Math.max(0, (Math.ceil(metrics.lineSpacing) + 16 - 30) / 2)
            padding: 0
            radius: height / 2
            background: null
            text: bar.vm.isGenerating ? qsTr("Stop") : qsTr("Send")
            contentItem: SymbolIcon {
                name: bar.vm.isGenerating ? "stop.circle.fill" : "arrow.up.circle.fill"
                color: bar.sendButtonColor
                size: 30
            }
            onClicked: bar.vm.isGenerating ? bar.vm.stop() : bar.vm.send()
        }
    }

    function moveFocus(event, forward) {
        const next = field.nextItemInFocusChain(forward)
        if (next)
            next.forceActiveFocus(forward ? Qt.TabFocusReason : Qt.BacktabFocusReason)
        event.accepted = true
    }

    function handleReturn(event) {
        if (field.inputMethodComposing) {
            // The input method's own confirmation key: neither a send nor a line break.
            event.accepted = true
        } else if (event.modifiers & Qt.ShiftModifier) {
            // A plain line feed, whatever the text control would insert itself.
            field.remove(field.selectionStart, field.selectionEnd)
            field.insert(field.cursorPosition, "\n")
            event.accepted = true
        } else {
            bar.vm.send()
            event.accepted = true
        }
    }
}
