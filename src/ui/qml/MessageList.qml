import QtQuick
import QtQuick.Controls
import Hushwing

// The conversation: the welcome while it is empty, then one bubble per message
// in a centred column at most 700 wide. Bubbles are built only near the visible
// area. The list follows the newest message: animated when a message is added
// or removed, at once on every streamed piece of the last one; a conversation
// restored at start is shown as it is, unscrolled.
ListView {
    id: list
    required property ChatViewModel vm

    // The column holding the welcome and the bubbles, padding included.
    readonly property real columnWidth: Math.min(700, width)
    readonly property real columnX: (width - columnWidth) / 2
    readonly property real padding: Theme.defaultPadding
    readonly property bool isScrollAnimating: scrollAnimation.running
    // The message count the scrolling rules last saw.
    property int shownCount: 0
    // Set by a streamed piece: the last bubble lays its new text out after the
    // piece arrives, so its growth is followed too, until the user scrolls.
    property bool followingLastContent: false

    objectName: "messageList"
    clip: true
    model: vm.messages
    spacing: 12
    topMargin: padding
    bottomMargin: padding
    reuseItems: false
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {}

    Accessible.role: Accessible.List
    Accessible.name: qsTr("Conversation")

    header: Item {
        width: list.width
        height: emptyLoader.active ? emptyLoader.height : 0
        Loader {
            id: emptyLoader
            x: list.columnX + list.padding
            width: list.columnWidth - 2 * list.padding
            active: list.vm.messageCount === 0
            sourceComponent: EmptyState {
                vm: list.vm
            }
        }
    }

    delegate: Item {
        id: row
        required property int index
        required property string role

        width: list.width
        height: bubble.height
        onHeightChanged: {
            if (list.followingLastContent && index === list.count - 1)
                Qt.callLater(list.scrollToLast, false)
        }

        // The row's text, read from the list model in C++ and passed on at
        // most once per frame while a reply streams (the last text always).
        // (A bubble that grows is followed by onHeightChanged above.)
        MessageContentFeed {
            id: feed
            model: list.vm.messages
            row: row.index
        }

        MessageBubble {
            id: bubble
            x: list.columnX + list.padding
            width: list.columnWidth - 2 * list.padding
            role: row.role
            content: feed.content
        }
    }

    // Puts the last message's bottom edge at the bottom of the visible area.
    function scrollToLast(animated) {
        if (count === 0)
            return
        scrollAnimation.stop()
        // Lay out pending changes first: the content height the scroll is
        // clamped to would otherwise lag one frame behind a grown bubble.
        forceLayout()
        const from = contentY
        positionViewAtIndex(count - 1, ListView.End)
        const to = contentY
        if (!animated || from === to)
            return
        contentY = from
        scrollAnimation.from = from
        scrollAnimation.to = to
        scrollAnimation.start()
    }

    NumberAnimation {
        id: scrollAnimation
        target: list
        property: "contentY"
        duration: 200
        easing.type: Easing.BezierSpline
        easing.bezierCurve: [0, 0, 0.58, 1, 1, 1]   // ease-out
    }

    Connections {
        target: list.vm
        function onMessagesChanged() {
            if (list.vm.messageCount === list.shownCount)
                return
            list.shownCount = list.vm.messageCount
            list.followingLastContent = false
            Qt.callLater(list.scrollToLast, true)
        }
        function onMessageContentChanged(row) {
            if (row !== list.vm.messageCount - 1)
                return
            list.followingLastContent = true
            Qt.callLater(list.scrollToLast, false)
        }
    }

    onMovementStarted: followingLastContent = false
    Component.onCompleted: shownCount = vm.messageCount
}
