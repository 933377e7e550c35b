import QtQuick
import QtQuick.Controls
import QtTest
import Hushwing
import HushwingTest

// Every screen readable under the desktop's colour schemes and a larger system
// font: the contrast of each text and icon is measured against the pixels
// actually behind it, and no text is cut off or drawn over another.
TestCase {
    id: testCase
    name: "Readability"
    when: windowShown
    visible: true
    width: 640
    height: 800

    ChatScreenFixture { id: fixture }

    Component {
        id: chatViewComponent
        ChatView {
            width: testCase.width
            height: testCase.height
        }
    }

    property ChatView view: null

    function showChat(roles, contents) {
        if (view) {
            // Gone before its view model is.
            view.destroy()
            wait(0)
        }
        fixture.start(roles || [], contents || [])
        view = createTemporaryObject(chatViewComponent, testCase, { vm: fixture.vm })
        verify(view)
        tryCompare(view.vm, "isRestoring", false, 10000)
        waitForRendering(view)
        return view
    }

    function cleanup() {
        ScreenProbe.usePalette("light")
        ScreenProbe.scaleFont(1)
        view = null
    }

    // The screens the user meets, each shown in turn: `check(name, root)` is
    // called with the item holding each one.
    function forEachScreen(check) {
        showChat()
        view.vm.setMode("Summarise")    // an active chip and the mode bar
        check("welcome", view)

        showChat(["user", "assistant"], ["Can you explain a haiku?",
                                         "A **haiku** is a short poem; see [the guide](https://example.com)."])
        check("conversation", view)

        findChild(view, "moreButton").clicked()
        const menu = findChild(view, "moreMenu")
        tryCompare(menu, "opened", true)
        check("menu", menu.contentItem.parent)
        menu.close()
        tryCompare(menu, "visible", false)

        const manager = view.vm.modelManager
        tryVerify(() => manager.ollamaBackends.length === 1, 10000)
        manager.select(manager.ollamaBackends[0])
        view.showingModels = true
        const models = findChild(view, "modelsPopover")
        tryCompare(models, "opened", true)
        tryCompare(manager, "isRefreshing", false, 10000)
        check("models", models.contentItem)
        view.showingModels = false

        // A reply streaming in: the Stop button's red.
        const requests = fixture.chatRequests
        view.vm.draft = "And a limerick?"
        view.vm.send()
        tryCompare(view.vm, "isGenerating", true, 5000)
        tryVerify(() => fixture.chatRequests > requests, 5000, "the reply is under way")
        check("reply running", view)
        fixture.finishReplies()
        tryCompare(view.vm, "isGenerating", false, 10000)

        view.showingAbout = true
        const about = findChild(view, "aboutSheet")
        tryCompare(about, "opened", true)
        check("about", about.contentItem)
        about.contentItem.contentY = about.contentItem.contentHeight - about.contentItem.height
        check("about, scrolled to the end", about.contentItem)
        view.showingAbout = false

        manager.select(manager.aiBackend)
        view.vm.draft = "Hello"
        view.vm.send()
        const alert = findChild(view, "availabilityAlert")
        tryCompare(alert, "opened", true)
        check("alert", alert.contentItem.parent)
    }

    function test_contrast_data() {
        return ScreenProbe.paletteNames().map(name => ({ tag: name, palette: name }))
    }

    // Text reaches 4.5:1 against what is behind it; secondary, tertiary,
    // caption-sized and large text and icons reach 3:1.
    function test_contrast(data) {
        const measured = {}
        const lowest = { 4.5: { ratio: 22 }, 3: { ratio: 22 } }
        forEachScreen((screen, root) => {
            // The scheme changes while the screen is up: the views follow it.
            ScreenProbe.usePalette(data.palette)
            waitForRendering(view)
            const entries = ScreenProbe.contrasts(root, Theme.captionSize, [Theme.secondary, Theme.tertiary])
            verify(entries.length >= 3, screen + ": texts and icons found")
            for (const e of entries) {
                verify(e.ratio >= e.needed, `${screen}: ${e.label} is ${e.ratio.toFixed(2)}:1 (${e.foreground} on `
                                            + `${e.background}), needs ${e.needed}:1`)
                measured[e.label] = e.ratio
                if (e.ratio < lowest[e.needed].ratio)
                    lowest[e.needed] = { ratio: e.ratio, where: screen + ": " + e.label }
            }
            ScreenProbe.usePalette("light")
        })
        // The places a reader looks at most were among those measured: both
        // kinds of bubble, the mode bar, a model's name, the version, the alert.
        for (const label of ['messageBlock "A haiku is a short poem; see the guide."',
                             'messageBlock "Can you explain a haiku?"', 'modeBarLabel "Summarise"', 'stop.circle.fill',
                             'nameLabel "tinyllama:1b"', 'versionLabel "Version ' + AppConfig.version + '"', 'OK'])
            verify(measured[label] !== undefined, label + " measured")
        // The figures, for the record: the lowest of each kind.
        for (const needed of [4.5, 3])
            console.info(`${data.palette}: lowest where ${needed}:1 is needed ${lowest[needed].ratio.toFixed(2)}:1 `
                         + `(${lowest[needed].where})`)
    }

    function test_largerSystemFont_data() {
        return [
            { tag: "system font", factor: 1 },
            { tag: "system font 1.5 times as large", factor: 1.5 },
        ]
    }

    function test_largerSystemFont(data) {
        const body = Theme.bodySize, caption = Theme.captionSize
        ScreenProbe.scaleFont(data.factor)
        verify(Theme.bodySize >= Math.floor(body * data.factor), "body text follows the system font")
        verify(Theme.captionSize >= Math.floor(caption * data.factor), "captions follow the system font")
        forEachScreen((screen, root) => {
            waitForRendering(view)
            compare(ScreenProbe.layoutFaults(root), [], screen)
        })
    }
}
