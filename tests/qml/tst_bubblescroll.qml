import QtQuick
import QtTest
import Hushwing
import HushwingTest

// Long replies in a clipped list: a bubble lays out only the blocks of text
// near the list's visible area (counted, so a message that would block the
// event loop for seconds fails here), text scrolled into view is drawn, and
// the text the reader sees stays put when blocks above it are laid out. Then
// the message list from the keyboard.
Item {
    id: stage
    width: 520
    height: 640

    ListView {
        id: list
        width: parent.width
        height: 320
        clip: true
        model: 1
        property string content: ""
        delegate: MessageBubble {
            required property int index
            width: list.width
            role: "assistant"
            content: list.content
            onContentShifted: dy => list.contentY += dy
        }
    }

    ChatScreenFixture { id: fixture }

    Component {
        id: messageListComponent
        MessageList {
            y: 320
            width: stage.width
            height: 320
        }
    }

    function shortLines(length) {
        const lines = []
        let size = 0
        for (let i = 0; size < length; ++i) {
            lines.push("Line " + i + " of a long reply, with words enough to read.")
            size += lines[lines.length - 1].length + 1
        }
        return lines.join("\n")
    }
    function oneParagraph(length) {
        const words = "Some words of one long paragraph that never ends, with ﬁne ligatures and a comma, ".repeat(64)
        return words.repeat(Math.ceil(length / words.length)).slice(0, length)
    }

    TestCase {
        name: "LongBubbleScroll"
        when: windowShown

        function bubbleText() { return list.itemAtIndex(0).textView }

        // Another message: emptied first, as the list model writes a text anew.
        function show(content) {
            list.content = ""
            list.content = content
            list.contentY = 0
            waitForRendering(list)
            return bubbleText()
        }

        // Pixels clearly darker than the bubble's grey: drawn glyphs.
        function inkedPixels() {
            const image = grabImage(list)
            let inked = 0
            for (let y = 0; y < image.height; y += 2)
                for (let x = 0; x < image.width; x += 2)
                    if (image.pixel(x, y).r < 0.4)
                        ++inked
            return inked
        }

        function test_textScrolledIntoViewIsDrawn() {
            const lines = []
            for (let i = 0; i < 600; ++i)
                lines.push("Line " + i + " of a long **reply**, with words enough to read.")
            show(lines.join("\n"))
            verify(inkedPixels() > 200, "the top of the reply is drawn")
            for (const fraction of [0.5, 0.9]) {
                list.contentY = (list.contentHeight - list.height) * fraction
                waitForRendering(list)
                wait(50)
                verify(inkedPixels() > 200, "text at " + fraction + " of the reply is drawn")
            }
        }

        function test_bigMessageLaysOutOnlyNearTheView_data() {
            return [
                { tag: "2 MB of short lines", content: shortLines(2 * 1024 * 1024) },
                { tag: "1 MB in one paragraph", content: oneParagraph(1024 * 1024) },
            ]
        }
        function test_bigMessageLaysOutOnlyNearTheView(data) {
            const first = bubbleText().layoutCount
            const text = show(data.content)
            verify(text.blockCount > 250, text.blockCount + " blocks")
            verify(text.layoutCount - first <= 4, (text.layoutCount - first) + " blocks laid out for the first view")
            verify(text.builtCount <= 4)
            compare(list.itemAtIndex(0).Accessible.name, data.content, "a screen reader reads all of it")

            // A jump to the middle lays out what is seen there, and lets go of the top.
            let before = text.layoutCount
            list.contentY = list.contentHeight / 2
            waitForRendering(list)
            verify(text.layoutCount - before <= 4, (text.layoutCount - before) + " more blocks laid out")
            verify(text.builtCount <= 4, text.builtCount + " text items")
            verify(inkedPixels() > 200, "the middle is drawn")

            // Scrolling on through a few screens lays out blocks as they come near.
            before = text.layoutCount
            for (let step = 0; step < 10; ++step) {
                list.contentY += list.height / 2
                waitForRendering(list)
            }
            verify(text.layoutCount - before <= 6, (text.layoutCount - before) + " blocks for five screens")
        }

        function test_textInViewStaysPutWhenBlocksAboveAreLaidOut() {
            const text = show(oneParagraph(300 * 1000))
            list.contentY = list.contentHeight - list.height
            waitForRendering(list)
            for (let step = 0; step < 12; ++step) {
                const top = text.blockAt(list.contentY + list.height / 2 - list.itemAtIndex(0).y - text.y - text.parent.y)
                const item = text.blockItem(top)
                verify(item, "the block in the middle of the view has its text item")
                const seenAt = item.mapToItem(list, 0, 0).y
                const laidOut = text.layoutCount
                list.contentY -= 200
                waitForRendering(list)
                fuzzyCompare(item.mapToItem(list, 0, 0).y, seenAt + 200, 1,
                             "after " + (text.layoutCount - laidOut) + " blocks above were laid out")
            }
        }

        function test_cutRightToLeftParagraphStaysRightToLeft() {
            // One paragraph whose only letters open it: its later blocks hold digits alone.
            const text = show("\u05E9\u05DC\u05D5\u05DD" + " 123".repeat(3000))
            verify(text.blockCount >= 3)
            list.contentY = text.blockItem(0).height
            waitForRendering(list)
            const second = text.blockItem(1)
            verify(second, "the second block is in view")
            verify(second.positionToRectangle(0).x > second.width / 2,
                   "the block starts at the right: " + second.positionToRectangle(0).x)
        }

        function test_streamedGrowthEditsOnlyTheLastBlock() {
            const text = show(shortLines(100 * 1000))
            list.contentY = list.contentHeight - list.height
            waitForRendering(list)
            const last = text.blockItem(text.blockCount - 1)
            verify(last)
            const before = text.layoutCount
            list.content = list.content + "\nand one more line"
            waitForItemPolished(text)  // a growing text is presented once a frame
            compare(text.blockItem(text.blockCount - 1), last, "the last block's text item stays")
            compare(text.layoutCount - before, 1, "only the last block is laid out again")
            verify(last.getText(0, last.length).endsWith("and one more line"))
        }
    }

    TestCase {
        name: "MessageListKeyboard"
        when: windowShown

        function test_oneTabStopUpDownAndTheMenu() {
            const contents = []
            for (let i = 0; i < 12; ++i)
                contents.push(i === 11 ? shortLines(30 * 1000) : "Message " + i + "\nwith a second line")
            fixture.start(contents.map((c, i) => i % 2 === 0 ? "user" : "assistant"), contents)
            const messages = createTemporaryObject(messageListComponent, stage, { vm: fixture.vm })
            tryCompare(fixture.vm, "isRestoring", false, 10000)
            waitForRendering(messages)
            verify(messages.activeFocusOnTab, "the list is one Tab stop")
            messages.forceActiveFocus(Qt.TabFocusReason)
            compare(messages.currentIndex, 0, "focus lands on the current message when it is in view")
            let bubble = messages.currentItem
            verify(bubble.showsFocus, "the current message is drawn with a focus ring")
            compare(bubble.Accessible.role, Accessible.ListItem)
            compare(bubble.Accessible.name, "Message 0\nwith a second line")

            keyClick(Qt.Key_Down)
            compare(messages.currentIndex, 1)
            verify(!bubble.showsFocus)
            for (let i = 0; i < 9; ++i)
                keyClick(Qt.Key_Down)
            compare(messages.currentIndex, 10)
            bubble = messages.currentItem
            verify(bubble.showsFocus)
            verify(messages.currentItem.y >= messages.contentY
                   && messages.currentItem.y + messages.currentItem.height <= messages.contentY + messages.height,
                   "the current message is scrolled into view")
            keyClick(Qt.Key_Up)
            compare(messages.currentIndex, 9)
            keyClick(Qt.Key_End)
            compare(messages.currentIndex, 11)
            verify(messages.currentItem.y < messages.contentY + messages.height, "the long last message is in view")

            BubbleFixtures.setClipboardText("something else")
            keyClick(Qt.Key_Menu)
            bubble = messages.currentItem
            tryCompare(bubble.contextMenu, "opened", true)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Return)
            tryCompare(bubble.contextMenu, "visible", false)
            compare(BubbleFixtures.clipboardText(), contents[11], "Copy copies the whole message exactly")
        }
    }
}
