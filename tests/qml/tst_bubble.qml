import QtQuick
import QtTest
import Hushwing
import HushwingTest

Item {
    id: stage
    width: 600
    height: 400

    Component {
        id: bubbleComponent
        MessageBubble { width: 500 }
    }

    TestCase {
        name: "MessageBubble"
        when: windowShown

        function make(content, role) {
            const bubble = createTemporaryObject(bubbleComponent, stage, { content: content, role: role })
            verify(bubble)
            return bubble
        }
        // The text item of a short message's one block.
        function textOf(bubble) {
            verify(bubble.textView.blockCount === 1)
            return bubble.textView.blockItem(0)
        }
        // What the reader sees: the laid-out text, line separators as "\n".
        function shown(bubble) {
            const t = textOf(bubble)
            return t.getText(0, t.length).replace(/\u2028|\u2029/g, "\n").replace(/\u00a0/g, " ")
        }
        function bubbleRect(bubble) { return findChild(bubble, "bubble") }

        function test_sidesAndColours() {
            const user = make("Hello there", "user")
            const assistant = make("Hi, how can I help?", "assistant")
            const userBubble = bubbleRect(user), assistantBubble = bubbleRect(assistant)
            compare(userBubble.x + userBubble.width, 500, "user bubbles sit on the right")
            compare(assistantBubble.x, 0, "assistant bubbles sit on the left")
            verify(userBubble.width < 200, "a bubble takes the natural width of its text")
            compare(findChild(user, "background").radius, 18)
            compare(findChild(user, "background").color, Theme.userBubble)
            compare(findChild(assistant, "background").color, Theme.assistantBubble)
            compare(textOf(user).color, Theme.userBubbleText)
            compare(user.textView.x, 12)
            compare(user.textView.y, 8)
            compare(userBubble.height, textOf(user).height + 16)
        }

        function test_longTextWrapsLeavingTheSpacer() {
            const longText = "word ".repeat(200)
            for (const role of ["user", "assistant"]) {
                const bubble = make(longText, role)
                const rect = bubbleRect(bubble)
                compare(rect.width, 500 - 60 - 8, role + ": at most the row less the 60-point spacer")
                verify(rect.height > 100, "long text wraps")
                const height = rect.height
                bubble.width = 300
                compare(rect.width, 300 - 60 - 8, role + ": a narrower row, at once")
                verify(rect.height > height, "more lines")
            }
        }

        function test_emptyMessageShowsOneSpace() {
            const bubble = make("", "assistant")
            compare(shown(bubble), " ")
            const oneLine = make("x", "assistant")
            compare(bubbleRect(bubble).height, bubbleRect(oneLine).height, "one line high")
            compare(bubbleRect(bubble).x, 0)
        }

        function test_markdownDecision_data() {
            return [
                { tag: "strong for the assistant", role: "assistant", content: "a **bold** word", styled: true, text: "a bold word" },
                { tag: "verbatim for the user", role: "user", content: "a **bold** word", styled: false, text: "a **bold** word" },
                { tag: "multiplication sign", role: "assistant", content: "2 * 3 = 6", styled: true, text: "2 * 3 = 6" },
                { tag: "numeric reference", role: "assistant", content: "as in [1].", styled: true, text: "as in [1]." },
                { tag: "heading and list signs", role: "assistant", content: "# Title\n- item", styled: false, text: "# Title\n- item" },
                { tag: "raw html shown as text", role: "assistant", content: "<b>x</b> `y`", styled: true, text: "<b>x</b> y" },
                { tag: "spaces and line breaks kept", role: "assistant", content: "a  b\n\n   c `d`  e", styled: true, text: "a  b\n\n   c d  e" },
                { tag: "plain text with entities", role: "assistant", content: "AT&amp;T <3", styled: false, text: "AT&amp;T <3" },
            ]
        }
        function test_markdownDecision(data) {
            const bubble = make(data.content, data.role)
            compare(bubble.styled, data.styled)
            compare(shown(bubble), data.text)
            compare(bubble.Accessible.name, data.text)
            compare(bubble.Accessible.role, Accessible.ListItem)
            compare(textOf(bubble).readOnly, true)
            compare(textOf(bubble).selectByMouse, true)
        }

        function test_boldIsRenderedBold() {
            // Bold glyphs are wider: the bubble that hugs them is too.
            const bold = make("**bold words here**", "assistant"), plain = make("bold words here", "assistant")
            compare(shown(bold), shown(plain))
            verify(bubbleRect(bold).width > bubbleRect(plain).width + 2,
                   bubbleRect(bold).width + " vs " + bubbleRect(plain).width)
        }

        function test_lineEndingsAndRightToLeftText() {
            compare(shown(make("one\r\ntwo\rthree", "user")), "one\ntwo\nthree")
            // A short right-to-left message: its bubble hugs it and its glyphs sit inside.
            for (const role of ["user", "assistant"]) {
                const bubble = make("שלום עולם", role)
                const rect = bubbleRect(bubble), t = textOf(bubble)
                verify(rect.width < 200, role + ": " + rect.width)
                for (const at of [0, t.length]) {
                    const x = t.mapToItem(rect, t.positionToRectangle(at).x, 0).x
                    verify(x >= 11 && x <= rect.width - 11, role + ": " + x + " in " + rect.width)
                }
            }
        }

        function test_switchesToMarkdownMidStream() {
            const bubble = make("", "assistant")
            const textItem = textOf(bubble)
            const steps = [
                { content: "The", styled: false, text: "The" },
                { content: "The answer", styled: false, text: "The answer" },
                { content: "The answer is **4", styled: true, text: "The answer is **4" },
                { content: "The answer is **42**", styled: true, text: "The answer is 42" },
                { content: "The answer is **42**.\n\nDone", styled: true, text: "The answer is 42.\n\nDone" },
            ]
            for (const step of steps) {
                bubble.content = step.content
                waitForItemPolished(bubble.textView)  // a growing text is presented once a frame
                compare(bubble.styled, step.styled, step.content)
                compare(shown(bubble), step.text)
            }
            verify(textOf(bubble) === textItem, "the text element is kept while the reply streams")
        }

        // The menu opens from within the click or key press, so it would be
        // there when they return; a message with text is the proof.
        function test_noCopyOnEmptyBubble() {
            for (const content of ["", "x"]) {
                const bubble = make(content, "assistant")
                mouseClick(bubbleRect(bubble), 5, 5, Qt.RightButton)
                compare(bubble.contextMenu !== null, content !== "", "an empty message offers no menu")
                if (bubble.contextMenu)
                    bubble.contextMenu.close()
            }
            for (const content of ["", "x"]) {
                const bubble = make(content, "assistant")
                bubble.forceActiveFocus()
                keyClick(Qt.Key_Menu)
                compare(bubble.contextMenu !== null, content !== "")
                if (bubble.contextMenu)
                    bubble.contextMenu.close()
            }
        }

        function test_copyCarriesTheRawMarkers() {
            BubbleFixtures.setClipboardText("something else")
            const raw = "Use **bold** and `code` [here](https://a.example)"
            const bubble = make(raw, "assistant")
            mouseClick(textOf(bubble), 5, 5, Qt.RightButton)
            tryCompare(bubble.contextMenu, "opened", true)
            const copy = findChild(bubble.contextMenu.contentItem, "copyItem") || bubble.contextMenu.itemAt(0)
            compare(bubble.contextMenu.count, 1)
            compare(copy.text, "Copy")
            compare(copy.icon.source.toString(), "image://symbol/doc.on.doc")
            mouseClick(copy)
            tryCompare(bubble.contextMenu, "visible", false)
            compare(BubbleFixtures.clipboardText(), raw)
        }

        function test_menuKeyOpensTheMenu() {
            for (const key of [Qt.Key_Menu, Qt.Key_F10]) {
                const bubble = make("plain words", "user")
                bubble.forceActiveFocus()
                verify(bubble.showsFocus, "focus on the bubble is drawn")
                compare(findChild(bubble, "focusRing").border.color, Theme.focusRing)
                keyClick(key, key === Qt.Key_F10 ? Qt.ShiftModifier : Qt.NoModifier)
                tryCompare(bubble.contextMenu, "opened", true)
                bubble.contextMenu.close()
            }
        }

        // The middle of character `index` of a text item, in its coordinates
        // (either direction: between the cursor positions on both sides).
        function middleOf(t, index) {
            const before = t.positionToRectangle(index), after = t.positionToRectangle(index + 1)
            return Qt.point((before.x + after.x) / 2, before.y + before.height / 2)
        }
        function clickText(t, index) {
            const at = middleOf(t, index)
            mouseClick(t, at.x, at.y)
        }

        function test_onlyWebAndMailLinksOpen() {
            BubbleFixtures.clearOpenedUrls()
            const bubble = make("[a](javascript:alert(1)) [b](https://a.example/x) <mailto:me@a.example> [c](file:///etc/passwd) [d](relative/x)", "assistant")
            verify(bubble.styled)
            const text = shown(bubble)
            for (const label of ["a", "b", "me@a.example", "c", "d"])
                clickText(textOf(bubble), text.indexOf(label))
            compare(BubbleFixtures.openedUrls(), ["https://a.example/x", "mailto:me@a.example"])
        }

        // Real pointer events: the menu, selecting and links work on the whole
        // bubble, text and padding, in both directions; the text element,
        // which reaches past a short bubble, takes no press beside it.
        function test_pointerOnTheBubble_data() {
            return [
                { tag: "reply", role: "assistant", content: "Hello there, reader" },
                { tag: "reply with a link", role: "assistant", content: "See [the guide](https://a.example/g) now", link: "the guide", url: "https://a.example/g" },
                { tag: "right-to-left reply", role: "assistant", content: "שלום עולם יפה" },
                { tag: "right-to-left reply with a link", role: "assistant", content: "שלום [קישור](https://a.example/he) עולם", link: "קישור", url: "https://a.example/he" },
                { tag: "user", role: "user", content: "Hello there, model" },
                { tag: "right-to-left user", role: "user", content: "שלום עולם יפה" },
            ]
        }
        function test_pointerOnTheBubble(data) {
            BubbleFixtures.clearOpenedUrls()
            const bubble = make(data.content, data.role)
            const rect = bubbleRect(bubble), t = textOf(bubble)
            const middle = rect.height / 2
            for (const x of [rect.width / 2, 4, rect.width - 4]) {
                mouseClick(rect, x, middle, Qt.RightButton)
                tryCompare(bubble.contextMenu, "opened", true, 1000, "right click at " + x)
                bubble.contextMenu.close()
                tryCompare(bubble.contextMenu, "visible", false)
            }

            // Beside the bubble, on the side its text element reaches past it.
            const beside = data.role === "user" ? (t.mapToItem(rect, 0, 0).x < 0 ? -8 : rect.width + 8)
                                                : rect.width + 8
            mouseDrag(rect, beside, middle, beside < 0 ? rect.width : -rect.width, 0)
            compare(t.selectedText, "", "a drag from beside the bubble selects nothing")
            mouseClick(rect, beside, middle, Qt.RightButton)
            wait(50)
            verify(!bubble.contextMenu.visible, "a right click beside the bubble is not the bubble's")

            // A drag over the text selects it.
            const first = middleOf(t, 0), last = middleOf(t, t.length - 1)
            mousePress(t, first.x, first.y)
            mouseMove(t, (first.x + last.x) / 2, first.y)
            mouseMove(t, last.x, last.y)
            mouseRelease(t, last.x, last.y)
            verify(t.selectedText.length >= t.length - 2, "selected: '" + t.selectedText + "'")

            if (data.link) {
                clickText(t, shown(bubble).indexOf(data.link) + 1)
                compare(BubbleFixtures.openedUrls(), [data.url])
            }
        }
    }
}
