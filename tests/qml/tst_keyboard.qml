import QtQuick
import QtQuick.Controls
import QtTest
import Hushwing
import HushwingTest

// The chat screen used with the keyboard alone, as a screen reader presents
// it: every step is a key press, every check reads the accessibility tree.
TestCase {
    id: testCase
    name: "Keyboard"
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
        fixture.serveModels([fixture.ollamaModelName])
        if (view)
            view.Window.window.height = testCase.height
        view = null
    }

    // What a screen reader says has the focus.
    function focused() {
        return ScreenProbe.focused(view.Window.window)
    }
    function focusedName() {
        return focused().name
    }
    // The focused control shows it: a ring, or for the message field its border.
    function focusIsVisible() {
        const item = view.Window.activeFocusItem
        if (item.objectName === "messageField")
            return Qt.colorEqual(findChild(view, "fieldBackground").border.color, Theme.focusRing)
        const rings = []
        const search = (node) => {
            if (node.shown !== undefined && node.outset !== undefined)
                rings.push(node)
            for (let i = 0; i < node.children.length; ++i)
                search(node.children[i])
        }
        search(item)
        if (item.background)
            search(item.background)
        return rings.some(ring => ring.visible && Qt.colorEqual(ring.border.color, Theme.focusRing))
    }
    function tabRound(key, modifiers, steps) {
        const names = []
        for (let i = 0; i < steps; ++i) {
            keyClick(key, modifiers)
            names.push(focusedName())
            verify(focusIsVisible(), "the focus on " + focusedName() + " is visible")
        }
        return names
    }

    function test_tabReachesEveryControlInOrder() {
        showChat()
        view.vm.setMode("Rewrite")
        compare(focusedName(), "Message", "the message field has the focus at start")
        view.vm.draft = "Hi"
        // New Chat is disabled on an empty conversation, and the empty list is no stop.
        const round = ["Send", "More", "Proofread", "Summarise", "Explain Simply", "Rewrite", "Clear Writing Mode",
                       "Message"]
        compare(tabRound(Qt.Key_Tab, Qt.NoModifier, round.length), round)
        compare(tabRound(Qt.Key_Backtab, Qt.ShiftModifier, round.length),
                round.slice(0, -1).reverse().concat(["Message"]))
        compare(view.vm.draft, "Hi", "Tab never types into the draft")

        showChat(["user", "assistant"], ["Hello", "Hi there"])
        // The conversation is one stop, on its current message (read by its text).
        const withMessages = ["Send", "New Chat", "More", "Hello", "Message"]
        compare(tabRound(Qt.Key_Tab, Qt.NoModifier, withMessages.length), withMessages)
        compare(focused().role, "EditableText")
    }

    function test_menuOpensWithItsFirstEntryAndEscapeReturns() {
        showChat()
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Tab)
        compare(focusedName(), "More")
        const keys = [Qt.Key_Space, Qt.Key_Return]
        for (const key of keys) {
            keyClick(key)
            const menu = findChild(view, "moreMenu")
            tryCompare(menu, "opened", true)
            compare(ScreenProbe.accessible(menu).name, "More")
            compare(menu.currentIndex, 0)
            compare(focusedName(), "Models", "the first entry is current")
            keyClick(Qt.Key_Down)
            compare(focusedName(), "About")
            keyClick(Qt.Key_Escape)
            tryCompare(menu, "visible", false)
            compare(focusedName(), "More", "Escape gives the focus back")
        }
    }

    function test_modelChooserByKeyboardWithThirtyModels() {
        const names = []
        for (let i = 1; i <= 30; ++i)
            names.push("model-" + (i < 10 ? "0" : "") + i + ":7b")
        fixture.serveModels(names)
        showChat()
        const manager = view.vm.modelManager
        tryVerify(() => manager.ollamaBackends.length === 30, 10000)
        manager.select(manager.ollamaBackends[24])

        // More, Return on "Models": the chooser opens on the selected row, in view.
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Return)
        tryCompare(findChild(view, "moreMenu"), "opened", true)
        keyClick(Qt.Key_Return)
        const popover = findChild(view, "modelsPopover")
        tryCompare(popover, "opened", true)
        tryCompare(manager, "isRefreshing", false, 10000)
        compare(ScreenProbe.accessible(popover).name, "Models")
        const list = findChild(popover.contentItem, "modelList")
        const inView = () => {
            const row = view.Window.activeFocusItem
            const top = row.mapToItem(list, 0, 0).y
            return top >= 0 && top + row.height <= list.height
        }
        tryCompare(focused(), "name", "model-25:7b")
        verify(list.contentHeight > list.height, "thirty models do not fit: the list scrolls")
        verify(inView(), "the selected row is in view")
        let row = focused()
        compare(row.role, "RadioButton")
        verify(row.states.includes("checked"), "the selected row says so")
        compare(row.description, "0.6 GB \u00b7 Ollama")

        // Arrows move between rows and keep them in view; Return chooses.
        keyClick(Qt.Key_Down)
        compare(focusedName(), "model-26:7b")
        verify(focusIsVisible())
        verify(!focused().states.includes("checked"))
        keyClick(Qt.Key_Return)
        compare(manager.selectedSubtitle, "0.6 GB \u00b7 Ollama")
        compare(manager.selectedID, manager.ollamaBackends[25].info.id)
        verify(focused().states.includes("checked"))
        for (let i = 0; i < 12; ++i)
            keyClick(Qt.Key_Up)
        compare(focusedName(), "model-14:7b")
        verify(inView())
        keyClick(Qt.Key_End)
        compare(focusedName(), "model-30:7b")
        compare(list.contentY, list.contentHeight - list.height, "the last row brings the footer")
        keyClick(Qt.Key_Home)
        row = focused()
        compare(row.name, "Apple Intelligence")
        compare(list.contentY, 0)
        // The on-device model is not available here: a screen reader hears it.
        verify(row.description.startsWith("Unavailable"), row.description)
        verify(!row.states.includes("checked"))

        // The list is one Tab stop; then the Models folder's button, then the refresh button.
        keyClick(Qt.Key_Tab)
        compare(focusedName(), "Open Models Folder")
        verify(focusIsVisible())
        keyClick(Qt.Key_Tab)
        compare(focusedName(), "Refresh Models")
        verify(focusIsVisible())
        keyClick(Qt.Key_Backtab, Qt.ShiftModifier)
        keyClick(Qt.Key_Backtab, Qt.ShiftModifier)
        compare(focusedName(), "Apple Intelligence")

        // A refresh rebuilds the rows; the focused one keeps the focus.
        keyClick(Qt.Key_Down)
        compare(focusedName(), "model-01:7b")
        manager.refresh()
        tryCompare(manager, "isRefreshing", false, 10000)
        tryCompare(focused(), "name", "model-01:7b")

        keyClick(Qt.Key_Escape)
        tryCompare(popover, "visible", false)
        compare(focusedName(), "More", "Escape gives the focus back to where it was")
    }

    function test_aboutSheetScrollsByKeyboard() {
        showChat()
        view.Window.window.height = 420    // a short window: the sheet's text scrolls
        BubbleFixtures.clearOpenedUrls()
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Tab)
        keyClick(Qt.Key_Space)
        tryCompare(findChild(view, "moreMenu"), "opened", true)
        keyClick(Qt.Key_Down)
        keyClick(Qt.Key_Return)
        const sheet = findChild(view, "aboutSheet")
        tryCompare(sheet, "opened", true)
        compare(ScreenProbe.accessible(sheet).name, "About Hushwing")
        verify(focusIsVisible())
        const about = sheet.contentItem
        verify(about.contentHeight > about.height)
        keyClick(Qt.Key_Down)
        verify(about.contentY > 0, "Down scrolls")
        keyClick(Qt.Key_PageDown)
        const afterPage = about.contentY
        verify(afterPage > about.height / 2, "Page Down scrolls by a page")
        keyClick(Qt.Key_End)
        compare(about.contentY, about.contentHeight - about.height)
        keyClick(Qt.Key_Home)
        compare(about.contentY, 0)

        // Tab reaches the maker's link, which Return opens.
        keyClick(Qt.Key_Tab)
        compare(focused().role, "Link")
        compare(focusedName(), "hushwing.example")
        verify(focusIsVisible())
        verify(about.contentY > 0, "the link scrolled into view")
        keyClick(Qt.Key_Return)
        compare(BubbleFixtures.openedUrls().length, 1)

        keyClick(Qt.Key_Escape)
        tryCompare(sheet, "visible", false)
        compare(focusedName(), "More")
    }

    function test_alertTakesTheFocusOnOk_data() {
        return [{ tag: "Space", key: Qt.Key_Space }, { tag: "Return", key: Qt.Key_Return },
                { tag: "Escape", key: Qt.Key_Escape }]
    }
    function test_alertTakesTheFocusOnOk(data) {
        showChat()
        keyClick("H")
        keyClick(Qt.Key_Return)    // the on-device model is selected, and unavailable here
        const alert = findChild(view, "availabilityAlert")
        tryCompare(alert, "opened", true)
        const dialog = ScreenProbe.accessible(alert)
        compare(dialog.role, "Dialog")
        compare(dialog.name, "Apple Intelligence Unavailable")
        compare(dialog.description.split("\n")[0], view.vm.availabilityError)
        compare(focusedName(), "OK")
        compare(focused().role, "Button")
        verify(focusIsVisible())
        keyClick(data.key)
        tryCompare(alert, "visible", false)
        compare(view.vm.hasAvailabilityError, false)
        compare(focusedName(), "Message")
        compare(view.vm.draft, "H")
    }

    // A window becoming active with the focus already in it gets no focus event
    // from Qt 6.4 that a screen reader would hear: the screen gives the focus
    // again (lost, then back), which Qt reports like any focus change.
    Window {
        id: freshWindow
        width: 640
        height: 800
    }
    SignalSpy {
        id: focusChanges
        signalName: "activeFocusChanged"
    }
    function test_focusedFieldAnnouncedWhenTheWindowBecomesActive() {
        fixture.start([], [])
        const chat = createTemporaryObject(chatViewComponent, freshWindow.contentItem, { vm: fixture.vm })
        tryCompare(fixture.vm, "isRestoring", false, 10000)
        const field = findChild(chat, "messageField")
        focusChanges.clear()
        focusChanges.target = field
        freshWindow.show()
        freshWindow.requestActivate()
        tryCompare(freshWindow, "active", true)
        tryVerify(() => focusChanges.count >= 2, 2000, "the field lost the focus and got it back")
        verify(field.activeFocus)
        compare(ScreenProbe.focused(freshWindow).name, "Message")
        freshWindow.close()
    }
}
