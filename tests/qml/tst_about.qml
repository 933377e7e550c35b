import QtQuick
import QtTest
import Hushwing
import HushwingTest

Item {
    id: stage
    width: 500
    height: 900

    Component {
        id: aboutComponent
        AboutView { height: 700 }
    }

    TestCase {
        name: "AboutView"
        when: windowShown

        function make(properties) {
            const view = createTemporaryObject(aboutComponent, stage, properties || {})
            verify(view)
            return view
        }
        function rows(view, name) {
            const column = findChild(view, name)
            const list = []
            for (let i = 0; i < column.children.length; ++i)
                if (column.children[i].icon !== undefined)
                    list.push(column.children[i])
            return list
        }

        function test_rowsInOrder() {
            const view = make()
            const features = rows(view, "features")
            compare(features.map(r => r.icon), ["lock.shield", "wifi.slash", "person.slash", "cpu"])
            compare(features.map(r => r.text), [
                "Fully private \u2014 nothing leaves your device",
                "Works completely offline",
                "No account or sign-in required",
                "Powered by Apple Intelligence, or other local models if available"])
            for (const row of features)
                compare(findChild(row, "icon").color, Theme.accent)
            const limitations = rows(view, "limitations")
            compare(limitations.map(r => r.icon), ["calendar.badge.exclamationmark", "hand.raised", "exclamationmark.triangle"])
            compare(limitations.map(r => r.text), [
                "Knowledge cutoff \u2014 may not know recent events",
                "Content guardrails \u2014 some topics may be declined or answered cautiously",
                "Not a substitute for medical, legal, or financial advice"])
            for (const row of limitations)
                compare(findChild(row, "icon").color, Theme.orange)
            // Every row's text starts 54 points in: 24 of padding, the 20-point icon column, 10 of spacing.
            for (const row of features.concat(limitations))
                compare(findChild(row, "text").mapToItem(view.contentItem, 0, 0).x, 54, row.text)
        }

        function test_limitationsHeadingIsShownInCapitals() {
            const heading = findChild(make(), "limitationsHeading")
            compare(heading.text, "Limitations")
            compare(heading.font.capitalization, Font.AllUppercase)
        }

        function test_versionLine_data() {
            return [
                { tag: "as built", version: "2.3.1", expected: "Version 2.3.1" },
                { tag: "none built in", version: "", expected: "Version 1.0" },
                { tag: "blank", version: "  ", expected: "Version 1.0" },
            ]
        }
        function test_versionLine(data) {
            compare(findChild(make({ version: data.version }), "versionLabel").text, data.expected)
        }

        function test_defaultVersionIsTheBuiltOne() {
            compare(findChild(make(), "versionLabel").text, "Version " + AppConfig.version)
            verify(AppConfig.version.length > 0)
        }

        function test_websiteLinkOpensOnlyAWebAddress() {
            BubbleFixtures.clearOpenedUrls()
            const view = make({ website: "https://www.hushwing.example/about" })
            const link = findChild(view, "websiteLink")
            verify(link.visible)
            verify(!findChild(view, "websiteText").visible)
            compare(link.text, "hushwing.example")
            compare(link.Accessible.name, "hushwing.example")
            view.contentY = view.contentHeight - view.height
            mouseClick(link)
            compare(BubbleFixtures.openedUrls(), ["https://www.hushwing.example/about"])
        }

        function test_websiteThatIsNoUrlIsPlainText_data() {
            return [
                { tag: "words", website: "the Hushwing developers" },
                { tag: "no scheme", website: "hushwing.example" },
                { tag: "script", website: "javascript:alert(1)" },
            ]
        }
        function test_websiteThatIsNoUrlIsPlainText(data) {
            BubbleFixtures.clearOpenedUrls()
            const view = make({ website: data.website })
            verify(!findChild(view, "websiteLink").visible)
            const text = findChild(view, "websiteText")
            verify(text.visible)
            compare(text.text, data.website)
            view.contentY = view.contentHeight - view.height
            mouseClick(text)
            compare(BubbleFixtures.openedUrls(), [])
        }

        function test_fixedWidthScrollsVerticallyOnly() {
            const view = make()
            view.height = 200
            compare(view.width, 400)
            compare(view.contentWidth, 400)
            verify(view.contentHeight > view.height, "the content is taller than a short sheet")
            compare(view.flickableDirection, Flickable.VerticalFlick)
            mouseDrag(view, 200, 150, -150, -120)
            tryVerify(() => !view.moving)
            compare(view.contentX, 0)
            verify(view.contentY > 0)
            view.contentY = 0
            mouseWheel(view, 200, 100, 0, -120)
            tryVerify(() => view.contentY > 0, 2000, "the wheel scrolls")
        }
    }
}
