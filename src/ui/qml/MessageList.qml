import QtQuick
import QtQuick.Controls
import Hushwing

// The conversation: the welcome while it is empty, then one bubble per message
// in a centred column at most 700 wide. Bubbles are built only near the visible
// area. The list follows the newest message: animated when a message is added
// or removed, at once on every streamed piece of the last one, and its growth
// as the bubble lays the piece out until the reader scrolls; a conversation
// restored at start (its texts filled in as they are read) is shown as it is,
// unscrolled.
//
// From the keyboard the list is one Tab stop: Up and Down move the current
// message (scrolled into view, read by a screen reader, drawn with a focus
// ring), Home and End go to the first and last, Page Up and Page Down scroll by
// a page, and the Menu key or Shift+F10 opens the current message's menu.
ListView {
    id: list
    required property ChatViewModel vm

    // The column holding the welcome and the bubbles, padding included.
    readonly property real columnWidth: Math.min(700, width)
    readonly property real columnX: (width - columnWidth) / 2
    readonly property real padding: Theme.defaultPadding
    readonly property bool isScrollAnimating: scrollAnimation.running
    // Whether the end stays in view as the content grows.
    property bool followingEnd: false
    // A message was added or removed: the scroll to the end is animated.
    property bool animatedScrollQueued: false

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

    activeFocusOnTab: true
    keyNavigationEnabled: false  // the keys below also scroll the current message into view
    highlightFollowsCurrentItem: false

    function showCurrent(index) {
        if (count === 0)
            return
        currentIndex = Math.max(0, Math.min(count - 1, index))
        positionViewAtIndex(currentIndex, ListView.Contain)
        followingEnd = atYEnd
    }
    function scrollByPage(pages) {
        const top = originY - topMargin, bottom = originY + contentHeight + bottomMargin - height
        contentY = Math.max(top, Math.min(Math.max(top, bottom), contentY + pages * height * 0.9))
        followingEnd = atYEnd
    }
    // The message nearest the bottom of the visible area.
    function lastVisibleIndex() {
        for (let y = contentY + height - 1; y >= contentY; y -= spacing / 2) {
            const index = indexAt(width / 2, y)
            if (index >= 0)
                return index
        }
        return count - 1
    }
    function isVisible(index) {
        const item = itemAtIndex(index)
        return item !== null && item.y + item.height > contentY && item.y < contentY + height
    }
    onActiveFocusChanged: {
        if (activeFocus && count > 0 && !isVisible(currentIndex))
            currentIndex = lastVisibleIndex()
    }
    Keys.onPressed: event => {
        switch (event.key) {
        case Qt.Key_Up: showCurrent(currentIndex - 1); break
        case Qt.Key_Down: showCurrent(currentIndex + 1); break
        case Qt.Key_Home: showCurrent(0); break
        case Qt.Key_End: showCurrent(count - 1); break
        case Qt.Key_PageUp: scrollByPage(-1); break
        case Qt.Key_PageDown: scrollByPage(1); break
        default: return
        }
        event.accepted = true
    }

    header: Item {
        width: list.width
        height: emptyLoader.active ? emptyLoader.height : 0
        Loader {
            id: emptyLoader
            x: list.columnX + list.padding
            width: list.columnWidth - 2 * list.padding
            // Not before the stored conversation is known to be empty.
            active: list.vm.messages.count === 0 && !list.vm.isRestoring
            sourceComponent: EmptyState {
                vm: list.vm
            }
        }
    }

    // The bubble takes its row's role and content itself (see MessageItem).
    delegate: MessageBubble {
        required property int index
        x: list.columnX + list.padding
        width: list.columnWidth - 2 * list.padding
        onContentShifted: dy => list.contentY += dy
        // A growing reply is shown as the frame is prepared: the end follows
        // in that same frame.
        onTextPresented: if (index === list.count - 1) list.keepEndInView()
    }

    // Puts the last message's bottom edge at the bottom of the visible area.
    // positionViewAtIndex places the end where ListView estimates it (rows it
    // has not built are not measured) and builds only the rows it then shows.
    // Animated, the scroll runs from where the view is when the end is at most
    // a screen away. From further (a long conversation read from the top, a
    // long reply in between) it starts where the message before the last rests
    // at the bottom: what was just sent shows in the first frame and the last
    // message slides in. An animation through the whole distance would build
    // and lay out every delegate on its way: seconds at 100,000 messages.
    function scrollToLast(animated) {
        animatedScrollQueued = false
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
        const start = Math.abs(to - from) <= height ? from : to - lastStretch()
        contentY = start
        scrollAnimation.from = start
        scrollAnimation.to = to
        scrollAnimation.start()
    }
    // The last message and the spacing above it, at most a screen.
    function lastStretch() {
        const last = itemAtIndex(count - 1)
        return last ? Math.min(height, last.height + spacing) : height
    }

    NumberAnimation {
        id: scrollAnimation
        target: list
        property: "contentY"
        duration: 200
        easing.type: Easing.BezierSpline
        easing.bezierCurve: [0, 0, 0.58, 1, 1, 1]   // ease-out
        // The content may have grown while the scroll ran.
        onFinished: list.keepEndInView()
    }

    // A message added or removed. A conversation replaced whole (restored, or
    // emptied by a new chat) resets the model instead, and is shown unscrolled.
    function followNewCount() {
        followingEnd = true
        animatedScrollQueued = true
        Qt.callLater(scrollToLast, true)
    }
    Connections {
        target: list.vm.messages
        function onRowsInserted() { list.followNewCount() }
        function onRowsRemoved() { list.followNewCount() }
        // The current message of a conversation replaced whole is its first,
        // as in a list made with its messages (once the list has the new rows).
        function onModelReset() { Qt.callLater(list.startAtFirst) }
    }
    function startAtFirst() {
        if (currentIndex < 0 && count > 0)
            currentIndex = 0
    }

    // A streamed piece of the last message brings the end back into view, even
    // when the reader had scrolled away.
    Connections {
        target: list.vm.messages
        function onDataChanged(topLeft, bottomRight) {
            if (list.vm.isGenerating && bottomRight.row === list.count - 1) {
                list.followingEnd = true
                Qt.callLater(list.keepEndInView)
            }
        }
    }

    function keepEndInView() {
        if (followingEnd && !animatedScrollQueued && !scrollAnimation.running)
            scrollToLast(false)
    }
    onContentHeightChanged: if (followingEnd) Qt.callLater(keepEndInView)
    onMovementStarted: followingEnd = false
    onMovementEnded: followingEnd = atYEnd
}
