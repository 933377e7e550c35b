import QtQuick
import QtQuick.Controls
import QtTest
import Hushwing
import HushwingTest

// The chat screen's rules against a real view model over a temporary store and
// a local stand-in for the Ollama server.
TestCase {
    id: testCase
    name: "ChatView"
    when: windowShown
    visible: true   // a test case is hidden by default, and hidden items take no clicks
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

    SignalSpy {
        id: pieceSpy
        target: testCase.view ? testCase.view.vm.messages : null
        signalName: "dataChanged"
    }

    function showChat(roles, contents) {
        fixture.start(roles || [], contents || [])
        view = createTemporaryObject(chatViewComponent, testCase, { vm: fixture.vm })
        verify(view)
        tryCompare(view.vm, "isRestoring", false, 10000)
        waitForRendering(view)
        return view
    }

    function item(name) {
        const found = findChild(view, name)
        verify(found, "no item named " + name)
        return found
    }

    function useOllama() {
        const manager = view.vm.modelManager
        tryVerify(() => manager.ollamaBackends.length === 1, 10000, "the stand-in's model is listed")
        const backend = manager.ollamaBackends[0]
        compare(backend.info.name, fixture.ollamaModelName)
        manager.select(backend)
        compare(manager.selectedID, backend.info.id)
        compare(item("windowSubtitle").text, backend.info.detail, "the subtitle follows the selection")
    }

    function typeAndReturn(text) {
        item("messageField").forceActiveFocus()
        keyClick(Qt.Key_A, Qt.ControlModifier)
        keySequence("Delete")
        for (const c of text)
            keyClick(c)
        keyClick(Qt.Key_Return)
    }

    // The last message's bottom edge is at the bottom of the visible area.
    function lastMessageRestsAtBottom(list) {
        const last = list.itemAtIndex(list.count - 1)
        return last !== null && Math.abs(last.y + last.height - list.contentY - list.height) < 1
    }

    function lastContent() {
        const model = view.vm.messages
        const contentRole = Qt.UserRole + 3
        return model.data(model.index(model.rowCount() - 1, 0), contentRole)
    }

    function cleanup() {
        fixture.restoreOnDeviceModel()
        if (view)
            view.vm.stop()
        fixture.finishReplies()     // no reply of this test lingers into the next
        if (view)
            tryCompare(view.vm, "isGenerating", false, 10000)
        view = null
    }

    function test_emptyConversation_showsWelcomeAndInactiveChips() {
        showChat()
        verify(item("emptyState").visible)
        const labels = ["Proofread", "Summarise", "Explain Simply", "Rewrite"]
        let previousX = -1
        for (const label of labels) {
            const chip = item("modeChip_" + label)
            verify(chip.visible)
            compare(chip.active, false)
            compare(chip.Accessible.name, label)
            compare(Qt.colorEqual(chip.fill, Theme.chipFill), true)
            compare(Qt.colorEqual(chip.foreground, Theme.accent), true)
            verify(chip.mapToItem(view, 0, 0).x > previousX, "chips in table order")
            previousX = chip.mapToItem(view, 0, 0).x
        }
        compare(item("modeBar").visible, false)
        compare(item("newChatButton").enabled, false)
    }

    function test_chip_activatesModeAndShowsModeBar() {
        showChat()
        const chip = item("modeChip_Summarise")
        mouseClick(chip)
        compare(view.vm.activeModeID, "Summarise")
        compare(chip.active, true)
        compare(Qt.colorEqual(chip.fill, Theme.accentFill), true)
        compare(Qt.colorEqual(chip.foreground, Theme.onAccent), true)
        compare(item("modeChip_Proofread").active, false)

        const bar = item("modeBar")
        verify(bar.visible)
        compare(item("modeBarLabel").text, "Summarise")

        // A second chip replaces the mode; tapping the active chip turns it off.
        mouseClick(item("modeChip_Rewrite"))
        compare(view.vm.activeModeID, "Rewrite")
        compare(chip.active, false)
        mouseClick(item("modeChip_Rewrite"))
        compare(view.vm.hasActiveMode, false)
        compare(bar.visible, false)
    }

    function test_modeBar_clearButtonTurnsModeOff() {
        showChat()
        mouseClick(item("modeChip_Explain Simply"))
        const clear = item("clearModeButton")
        compare(clear.Accessible.name, "Clear Writing Mode")
        mouseClick(clear)
        compare(view.vm.hasActiveMode, false)
        compare(item("modeBar").visible, false)
        compare(item("modeChip_Explain Simply").active, false)
    }

    function test_firstMessage_hidesWelcomeAndModeBarTogether() {
        showChat()
        useOllama()
        mouseClick(item("modeChip_Proofread"))
        verify(item("modeBar").visible)

        const requestsBefore = fixture.chatRequests
        typeAndReturn("Fix this")
        compare(view.vm.messages.count, 2)
        compare(view.vm.activeModeID, "Proofread", "the mode stays active after the first message")
        compare(item("modeBar").visible, false)
        compare(findChild(view, "emptyState"), null)
        tryCompare(fixture, "chatRequests", requestsBefore + 1, 10000)
    }

    function test_sendButtonColour_data() {
        return [
            { tag: "empty", draft: "", colour: "secondary" },
            { tag: "spaces", draft: "   ", colour: "secondary" },
            { tag: "tab and other space separators", draft: "\t\u00a0\u2003\u3000", colour: "secondary" },
            { tag: "only line breaks", draft: "\n\n", colour: "accent" },
            { tag: "carriage return and line feed", draft: " \r\n ", colour: "accent" },
            { tag: "text", draft: "  hi  ", colour: "accent" },
        ]
    }

    function test_sendButtonColour(data) {
        showChat()
        view.vm.draft = data.draft
        const bar = item("inputBar")
        compare(Qt.colorEqual(bar.sendButtonColor, Theme[data.colour]), true,
                "colour " + bar.sendButtonColor + " for " + JSON.stringify(data.draft))
        compare(item("sendButton").Accessible.name, "Send")
    }

    function test_lineBreaksOnly_showAccentButSendNothing() {
        showChat()
        useOllama()
        view.vm.draft = "\n\n"
        mouseClick(item("sendButton"))
        compare(view.vm.messages.count, 0)
        compare(view.vm.draft, "\n\n")
    }

    function test_whileGenerating_buttonIsRedStopAndStops() {
        showChat()
        useOllama()
        typeAndReturn("Hi")
        tryCompare(view.vm, "isGenerating", true, 5000)
        const button = item("sendButton")
        compare(Qt.colorEqual(item("inputBar").sendButtonColor, Theme.red), true)
        compare(button.Accessible.name, "Stop")

        // Return during a reply calls send(), which ignores it.
        typeAndReturn("Again")
        compare(view.vm.messages.count, 2)

        mouseClick(button)
        tryCompare(view.vm, "isGenerating", false, 10000)
        compare(button.Accessible.name, "Send")
        compare(Qt.colorEqual(item("inputBar").sendButtonColor, Theme.accent), true, "the unsent draft is kept")
    }

    function test_keyboard_shiftReturnBreaksLineReturnAndCtrlReturnSend() {
        showChat()
        useOllama()
        const field = item("messageField")
        compare(field.Accessible.name, "Message")
        field.forceActiveFocus()
        keyClick("a")
        keyClick(Qt.Key_Return, Qt.ShiftModifier)
        keyClick("b")
        compare(view.vm.draft, "a\nb")
        compare(view.vm.messages.count, 0)

        // Ctrl+Return works with the focus away from the field.
        item("newChatButton").forceActiveFocus()
        keyClick(Qt.Key_Return, Qt.ControlModifier)
        compare(view.vm.messages.count, 2)
        compare(view.vm.draft, "")
    }

    function test_field_growsToSixLinesThenScrollsInside() {
        showChat()
        const bar = item("inputBar")
        const heightFor = (lines) => {
            view.vm.draft = Array(lines).fill("line").join("\n")
            waitForRendering(bar)
            return bar.height
        }
        const one = heightFor(1), three = heightFor(3), six = heightFor(6), ten = heightFor(10)
        verify(three > one, "the field grows with its lines")
        verify(six > three)
        compare(ten, six, "beyond six lines the text scrolls inside the field")
        compare(item("messageField").placeholderText, "Message")
    }

    function test_alert_showsRefusalAndOkDismissesIt() {
        showChat()
        compare(findChild(view, "availabilityAlert"), null, "the alert is built when first needed")
        view.vm.draft = "Hello"
        view.vm.send()       // the on-device model is selected and unavailable here
        verify(view.vm.hasAvailabilityError)
        const alert = item("availabilityAlert")
        tryCompare(alert, "opened", true)
        compare(alert.title, "Apple Intelligence Unavailable")
        compare(item("alertText").text, view.vm.availabilityError)
        verify(view.vm.availabilityError.startsWith("Apple Intelligence unavailable: "))

        const ok = item("alertOKButton")
        compare(ok.Accessible.name, "OK")
        mouseClick(ok)
        tryCompare(alert, "visible", false)
        compare(view.vm.hasAvailabilityError, false)
        compare(view.vm.draft, "Hello")

        // Escape closes it too, and clears the error the same way.
        view.vm.send()
        tryCompare(alert, "opened", true)
        keyClick(Qt.Key_Escape)
        tryCompare(alert, "visible", false)
        compare(view.vm.hasAvailabilityError, false)
    }

    // A refusal that a model file would cure says, under it, where the file
    // goes and where the folder is shown; the others say nothing more.
    function test_alert_namesTheModelsFolderWhenTheModelFileIsMissing() {
        showChat()
        view.vm.draft = "Hello"
        for (const reason of ["modelNotReady", "deviceNotEligible"]) {
            fixture.makeOnDeviceModelUnavailable(reason)
            view.vm.send()
            const alert = item("availabilityAlert")
            tryCompare(alert, "opened", true)
            const refusal = "Apple Intelligence unavailable: " + reason
            compare(item("alertText").text, refusal)
            const hint = item("alertInformativeText")
            const dialog = ScreenProbe.accessible(alert)
            if (reason === "modelNotReady") {
                verify(hint.visible)
                verify(hint.text.startsWith("Put a .gguf model file in "), hint.text)
                verify(hint.text.includes("/Hushwing/Models, then send again."), hint.text)
                verify(hint.text.endsWith("More\u00a0\u2192\u00a0Models shows that folder and opens it."), hint.text)
                compare(dialog.description, refusal + "\n" + hint.text)
            } else {
                compare(hint.visible, false)
                compare(dialog.description, refusal)
            }
            keyClick(Qt.Key_Escape)
            tryCompare(alert, "visible", false)
        }
    }

    function test_newChat_enabledWithMessagesAndCtrlN() {
        showChat()
        mouseClick(item("modeChip_Rewrite"))
        keySequence(StandardKey.New)
        compare(view.vm.activeModeID, "Rewrite", "Ctrl+N does nothing while New Chat is disabled")

        useOllama()
        const requestsBefore = fixture.chatRequests
        typeAndReturn("Hi")
        tryCompare(fixture, "chatRequests", requestsBefore + 1, 10000)
        const button = item("newChatButton")
        compare(button.Accessible.name, "New Chat")
        compare(button.enabled, true)
        fixture.finishReplies()
        tryCompare(view.vm, "isGenerating", false, 10000)
        compare(button.enabled, true)

        keySequence(StandardKey.New)
        compare(view.vm.messages.count, 0)
        compare(view.vm.hasActiveMode, false)
        compare(button.enabled, false)
        verify(item("emptyState").visible)
    }

    function test_menu_opensModelsAndAboutAndEscapeClosesThem() {
        showChat()
        const more = item("moreButton")
        compare(more.Accessible.name, "More")
        mouseClick(more)
        const menu = item("moreMenu")
        tryCompare(menu, "opened", true)
        const models = item("modelsMenuItem")
        compare(models.text, "Models")
        mouseClick(models)
        compare(view.showingModels, true)
        const popover = item("modelsPopover")
        tryCompare(popover, "opened", true)
        compare(popover.contentItem.modelManager, view.vm.modelManager)
        keyClick(Qt.Key_Escape)
        tryCompare(popover, "visible", false)
        compare(view.showingModels, false)

        mouseClick(more)
        tryCompare(menu, "opened", true)
        compare(item("aboutMenuItem").text, "About")
        mouseClick(item("aboutMenuItem"))
        const sheet = item("aboutSheet")
        tryCompare(sheet, "opened", true)
        compare(view.showingAbout, true)
        keyClick(Qt.Key_Escape)
        tryCompare(sheet, "visible", false)
        compare(view.showingAbout, false)
    }

    // The entries (delegates) the list makes from now on.
    function countEntriesMade(list) {
        const seen = new Set()
        const counter = { made: 0 }
        const look = () => {
            if (!list.contentItem)
                return  // the list is going
            const children = list.contentItem.children
            for (let i = 0; i < children.length; ++i) {
                if (!seen.has(children[i])) {
                    seen.add(children[i])
                    ++counter.made
                }
            }
        }
        look()
        counter.made = 0
        list.contentItem.childrenChanged.connect(look)
        return counter
    }

    // Whether entry `index` is built and wholly in view.
    function inView(list, index) {
        const entry = list.itemAtIndex(index)
        return entry !== null && entry.y >= list.contentY - 0.5
               && entry.y + entry.height <= list.contentY + list.height + 0.5
    }

    function test_scrolling_restoredStaysPutThenFollowsNewMessages() {
        const roles = [], contents = []
        for (let i = 0; i < 200; ++i) {
            roles.push(i % 2 === 0 ? "user" : "assistant")
            contents.push("Stored message " + i + "\nwith a second line")
        }
        showChat(roles, contents)
        const list = item("messageList")
        compare(list.count, 200)
        // The view was there before the restore, and a frame has been drawn
        // since: a scroll the restore had queued would be running now.
        verify(!list.isScrollAnimating)
        compare(list.contentY, list.originY - list.topMargin, "a restored conversation is shown from the top")
        verify(!lastMessageRestsAtBottom(list))
        let onScreen = 0
        while (inView(list, onScreen))
            ++onScreen

        // Sent from the top of a long conversation, the message shows at once
        // and the list slides to the end without making the entries between.
        useOllama()
        const requestsBefore = fixture.chatRequests
        const entries = countEntriesMade(list)
        typeAndReturn("Next")
        tryCompare(list, "isScrollAnimating", true, 5000)
        verify(inView(list, 200), "the sent message is in view while the list scrolls")
        tryCompare(list, "isScrollAnimating", false, 5000)
        verify(lastMessageRestsAtBottom(list))
        verify(entries.made <= 2 * onScreen, entries.made + " entries made for a screen of " + onScreen)

        // A streamed piece that grows the last message reaches its bubble
        // straight from the list's content role, and is followed at once.
        tryCompare(fixture, "chatRequests", requestsBefore + 1, 10000)
        tryVerify(() => lastContent() === "Hello there", 10000, "the opening pieces have arrived")
        pieceSpy.clear()
        const before = list.contentY
        const longer = "Hello there and a much longer part\n\n\n\n\n\n\nthat ends here"
        fixture.sendReplyPiece(longer.slice("Hello there".length))
        pieceSpy.wait(5000)
        tryVerify(() => lastMessageRestsAtBottom(list) && list.contentY > before, 5000)
        compare(list.itemAtIndex(list.count - 1).content, longer)
        verify(!list.isScrollAnimating)

        // Scrolled away by the reader, the next streamed piece brings the end
        // back into view at once.
        mouseWheel(list, list.width / 2, list.height / 2, 0, 360)
        tryVerify(() => !list.moving && !lastMessageRestsAtBottom(list), 5000)
        fixture.sendReplyPiece("\n\n\n\nand the end")
        tryVerify(() => lastContent().endsWith("and the end") && lastMessageRestsAtBottom(list), 5000)
        verify(!list.isScrollAnimating)
        fixture.finishReplies()
    }
}
