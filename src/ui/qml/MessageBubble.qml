import QtQuick
import QtQuick.Controls
import Hushwing

// One turn of the conversation: the user's on the right in the accent colour,
// the assistant's on the left in a grey, both from the theme. What the text
// shows (verbatim, styled Markdown, or the raw text when the parser refuses
// it) is put into the text element's document by MessageTextDocument; a
// streamed reply only changes `content`, so the element stays and only the
// changed end of its text is replaced.
Item {
    id: root

    required property string content
    required property string role

    readonly property bool isUser: role === "user"
    readonly property bool styled: textDocument.styled
    readonly property bool canCopy: !textDocument.empty
    readonly property int sideSpacing: 60
    readonly property int rowSpacing: 8
    readonly property alias textItem: messageText
    // The context menu is built the first time it opens.
    readonly property Menu contextMenu: menuLoader.item

    // The text is laid out once, at the widest the bubble may be; the bubble
    // then hugs the lines (at most that width, the whole width once a
    // paragraph wraps).
    readonly property real textAreaWidth: Math.max(0, width - sideSpacing - rowSpacing - 24)
    readonly property real textWidth: textDocument.wraps
                                      ? textAreaWidth
                                      : Math.min(textAreaWidth, textDocument.textRight - textDocument.textLeft)

    // The list gives every bubble its width; this is only a fallback.
    implicitWidth: 400
    implicitHeight: bubble.height

    MessageTextDocument {
        id: textDocument
        document: messageText.textDocument
        content: root.content
        role: root.role
    }

    function openContextMenu(x, y) {
        if (!canCopy)  // an empty message has nothing to copy: no menu at all
            return false
        menuLoader.active = true
        menuLoader.item.popup(messageText, x, y)
        return true
    }

    Item {
        id: bubble
        objectName: "bubble"
        width: root.textWidth + 24
        height: messageText.height + 16
        x: root.isUser ? root.width - width : 0
        anchors.bottom: parent.bottom

        Rectangle {
            id: background
            objectName: "background"
            anchors.fill: parent
            radius: 18
            color: root.isUser ? Theme.userBubble : Theme.assistantBubble
        }

        TextEdit {
            id: messageText
            objectName: "messageText"
            x: 12 - (textDocument.wraps ? 0 : textDocument.textLeft)
            y: 8
            width: root.textAreaWidth
            // The document is filled by `textDocument`, never through `text`.
            textFormat: TextEdit.PlainText
            // Presses beside the lines belong to the row, not to the text.
            containmentMask: QtObject {
                function contains(point: point): bool {
                    return point.x >= messageText.x - 12 && point.x <= messageText.x - 12 + bubble.width
                           && point.y >= -8 && point.y <= messageText.height + 8
                }
            }
            readOnly: true
            selectByMouse: true
            persistentSelection: false
            wrapMode: TextEdit.Wrap
            color: root.isUser ? Theme.userBubbleText : Theme.assistantBubbleText
            selectedTextColor: root.isUser ? Theme.userBubble : Theme.selectionText
            selectionColor: root.isUser ? Theme.userBubbleText : Theme.selection
            font.pixelSize: 14

            Accessible.role: Accessible.StaticText
            Accessible.name: textDocument.plainText

            onLinkActivated: link => DesktopActions.openLink(link)

            HoverHandler {
                cursorShape: messageText.hoveredLink.length > 0 ? Qt.PointingHandCursor : Qt.IBeamCursor
            }
            // Handlers of the text itself see a right click before the text's
            // own selection handling does.
            TapHandler {
                acceptedButtons: Qt.RightButton
                onTapped: eventPoint => root.openContextMenu(eventPoint.position.x, eventPoint.position.y)
            }
            Keys.onPressed: event => {
                if (event.key === Qt.Key_Menu || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
                    root.openContextMenu(messageText.cursorRectangle.x, messageText.cursorRectangle.bottom)
                    event.accepted = true
                }
            }
        }
    }

    Loader {
        id: menuLoader
        active: false
        sourceComponent: Menu {
            parent: messageText
            MenuItem {
                objectName: "copyItem"
                text: "Copy"
                icon.source: "image://symbol/doc.on.doc"
                onTriggered: DesktopActions.copyToClipboard(root.content)
            }
        }
    }
}
