import QtQuick
import QtTest
import Hushwing

// A long reply in a clipped list: its text element draws only what is inside
// the list's visible area, and text scrolled into view is drawn.
Item {
    id: stage
    width: 520
    height: 320

    ListView {
        id: list
        anchors.fill: parent
        clip: true
        model: 1
        delegate: MessageBubble {
            required property int index
            width: list.width
            role: "assistant"
            content: {
                let lines = []
                for (let i = 0; i < 600; ++i)
                    lines.push("Line " + i + " of a long **reply**, with words enough to read.")
                return lines.join("\n")
            }
        }
    }

    TestCase {
        name: "LongBubbleScroll"
        when: windowShown

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
            waitForRendering(list)
            verify(inkedPixels() > 200, "the top of the reply is drawn")
            for (const fraction of [0.5, 0.9]) {
                list.contentY = (list.contentHeight - list.height) * fraction
                waitForRendering(list)
                wait(50)
                verify(inkedPixels() > 200, "text at " + fraction + " of the reply is drawn")
            }
        }
    }
}
