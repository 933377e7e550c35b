import QtQuick
import QtQuick.Controls
import Hushwing

// One turn of the conversation: the user's on the right in the accent colour,
// the assistant's on the left in a grey, both from the theme. The text is a
// MessageTextView: a column of text blocks made only near the visible area, so
// a reply of megabytes costs what is on screen. The root (a MessageItem) takes
// the message's `content` and hands it to the text view in C++; in the message
// list both `content` and `role` come from the bubble's row. A streamed reply
// only grows the text: the blocks stay and only the changed end of the text is
// laid out again.
//
// As an entry of the message list it is what keyboard focus and a screen
// reader land on: a list item named by the message's text, drawn with a focus
// ring, whose context menu (Copy) the Menu key or Shift+F10 opens.
MessageItem {
    id: root

    required content
    required property string role

    readonly property bool isUser: role === "user"
    readonly property bool styled: messageText.styled
    readonly property bool canCopy: messageText.hasContent
    readonly property int sideSpacing: 60
    readonly property int rowSpacing: 8
    // The context menu is built the first time it opens.
    readonly property Menu contextMenu: menuLoader.item
    // Keyboard focus on the bubble itself (not on a text block a click focused).
    readonly property bool showsFocus: activeFocus && Window.activeFocusItem === root

    // Text blocks above the visible area were laid out and moved what is below
    // them by `dy`: the view scrolls by as much to keep the text in place.
    signal contentShifted(real dy)
    // A growing text was shown as the frame is prepared, its new height set.
    signal textPresented()

    // The text is laid out at the widest the bubble may be; the bubble then
    // hugs the lines (at most that width, the whole width once a paragraph wraps).
    readonly property real textAreaWidth: Math.max(0, width - sideSpacing - rowSpacing - 24)
    readonly property real textWidth: messageText.wraps
                                      ? textAreaWidth
                                      : Math.min(textAreaWidth, messageText.textRight - messageText.textLeft)

    objectName: "messageBubble"
    textView: messageText
    // The list gives every bubble its width; this is only a fallback.
    implicitWidth: 400
    implicitHeight: bubble.height

    Accessible.role: Accessible.ListItem
    Accessible.name: ScreenReader.active ? messageText.plainText : ""
    Accessible.focusable: true

    // `x`, `y` in the bubble's coordinates.
    function openContextMenu(x, y) {
        if (!canCopy)  // an empty message has nothing to copy: no menu at all
            return false
        menuLoader.active = true
        menuLoader.item.popup(bubble, x, y)
        return true
    }

    Keys.onPressed: event => {
        if (event.key === Qt.Key_Menu || (event.key === Qt.Key_F10 && (event.modifiers & Qt.ShiftModifier))) {
            root.openContextMenu(12, Math.min(bubble.height, 24))
            event.accepted = true
        }
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

        FocusRing {
            objectName: "focusRing"
            shown: root.showsFocus
            radius: background.radius + outset
        }

        // A right click anywhere on the bubble, text or padding.
        TapHandler {
            acceptedButtons: Qt.RightButton
            onTapped: eventPoint => root.openContextMenu(eventPoint.position.x, eventPoint.position.y)
        }

        MessageTextView {
            id: messageText
            objectName: "messageText"
            x: 12 - (wraps ? 0 : textLeft)
            y: 8
            width: root.textAreaWidth
            role: root.role
            font.pixelSize: 14
            linkColor: Theme.link
            onContentShifted: dy => root.contentShifted(dy)
            onPresentedInFrame: root.textPresented()

            delegate: TextEdit {
                id: block
                objectName: "messageBlock"
                // The document is filled by the MessageTextView, never through `text`.
                textFormat: TextEdit.PlainText
                readOnly: true
                selectByMouse: true
                persistentSelection: false
                wrapMode: TextEdit.Wrap
                font: messageText.font
                color: root.isUser ? Theme.userBubbleText : Theme.assistantBubbleText
                selectedTextColor: root.isUser ? Theme.userBubble : Theme.selectionText
                selectionColor: root.isUser ? Theme.userBubbleText : Theme.selection
                // The block is as wide as the widest text may be; only presses
                // on the bubble itself belong to it.
                containmentMask: QtObject {
                    function contains(point: point): bool {
                        const inBubble = block.mapToItem(bubble, point.x, point.y)
                        return inBubble.x >= 0 && inBubble.x <= bubble.width
                               && point.y >= 0 && point.y <= block.height
                    }
                }
                // A block a click focused gives focus back to the bubble when it loses it.
                onActiveFocusChanged: if (!activeFocus) focus = false
                onLinkActivated: link => DesktopActions.openLink(link)

                HoverHandler {
                    cursorShape: block.hoveredLink.length > 0 ? Qt.PointingHandCursor : Qt.IBeamCursor
                }
            }
        }
    }

    Loader {
        id: menuLoader
        active: false
        sourceComponent: Menu {
            parent: bubble
            MenuItem {
                objectName: "copyItem"
                text: "Copy"
                icon.source: "image://symbol/doc.on.doc"
                onTriggered: root.copyContent()
            }
        }
    }
}
