import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// The message field and the send/stop button. Return sends, Shift+Return breaks
// the line, and Return while an input method is still composing belongs to the
// input method. The field grows from one to six lines, then scrolls inside.
Item {
    id: bar
    required property ChatViewModel vm
    required property ChatTheme theme

    // Grey while the draft is blank (spaces and tabs only), red while a reply runs.
    readonly property color sendButtonColor: vm.isGenerating ? theme.red
                                             : DraftText.isBlank(vm.draft) ? theme.secondary
                                             : theme.accent
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
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignBottom
            implicitHeight: scroller.height + 16
            radius: 20
            color: bar.theme.faded(bar.theme.secondary, 0.1)

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
                    placeholderTextColor: bar.theme.secondary
                    color: bar.theme.primary
                    selectByMouse: true
                    font.pixelSize: 14
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

                    Keys.onReturnPressed: (event) => bar.handleReturn(event)
                    Keys.onEnterPressed: (event) => bar.handleReturn(event)

                    Accessible.role: Accessible.EditableText
                    Accessible.name: qsTr("Message")
                    Accessible.multiLine: true
                }
            }
        }

        AbstractButton {
            id: sendButton
            objectName: "sendButton"
            Layout.alignment: Qt.AlignBottom
            // Level with the field's last line.
            Layout.bottomMargin: Math.max(0, (Math.ceil(metrics.lineSpacing) + 16 - 30) / 2)
            focusPolicy: Qt.NoFocus
            contentItem: SymbolIcon {
                name: bar.vm.isGenerating ? "stop.circle.fill" : "arrow.up.circle.fill"
                color: bar.sendButtonColor
                size: 30
            }
            onClicked: bar.vm.isGenerating ? bar.vm.stop() : bar.vm.send()

            Accessible.role: Accessible.Button
            Accessible.name: bar.vm.isGenerating ? qsTr("Stop") : qsTr("Send")
            Accessible.onPressAction: sendButton.clicked()
        }
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
