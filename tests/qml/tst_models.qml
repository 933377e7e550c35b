import QtQuick
import QtTest
import Hushwing
import HushwingTest

Item {
    id: stage
    width: 420
    height: 700

    Component {
        id: rowComponent
        ModelRow { width: 340 }
    }
    Component {
        id: viewComponent
        ModelsView {}
    }
    Component {
        id: selectSpy
        SignalSpy { signalName: "select" }
    }

    TestCase {
        name: "ModelRow"
        when: windowShown

        function makeRow(detail, available, selected) {
            const backend = BubbleFixtures.makeBackend("llama3.2", detail, available)
            return createTemporaryObject(rowComponent, stage, { backend: backend, isSelected: selected })
        }

        function test_statusMark_data() {
            return [
                { tag: "unavailable and selected", available: false, selected: true, unavailable: true, check: false },
                { tag: "unavailable", available: false, selected: false, unavailable: true, check: false },
                { tag: "available and selected", available: true, selected: true, unavailable: false, check: true },
                { tag: "available", available: true, selected: false, unavailable: false, check: false },
            ]
        }
        function test_statusMark(data) {
            const row = makeRow("4.7 GB \u00b7 Ollama", data.available, data.selected)
            const unavailable = findChild(row, "unavailableLabel")
            compare(unavailable.visible, data.unavailable)
            compare(unavailable.text, "Unavailable")
            compare(unavailable.color, Theme.orange)
            compare(findChild(row, "checkmark").visible, data.check)
            compare(findChild(row, "checkmark").name, "checkmark")
        }

        function test_detailLineOnlyWhenPresent() {
            const withDetail = makeRow("4.7 GB \u00b7 Ollama", true, false)
            const withoutDetail = makeRow("", true, false)
            compare(findChild(withDetail, "detailLabel").visible, true)
            compare(findChild(withDetail, "detailLabel").text, "4.7 GB \u00b7 Ollama")
            compare(findChild(withoutDetail, "detailLabel").visible, false)
            compare(findChild(withoutDetail, "nameLabel").text, "llama3.2")
            verify(withoutDetail.implicitHeight < withDetail.implicitHeight, "no empty second line")
        }

        function test_wholeRowIsClickableAndNamed() {
            const row = makeRow("", true, false)
            const spy = createTemporaryObject(selectSpy, stage, { target: row })
            mouseClick(row, row.width - 40, row.height / 2)  // the empty middle of the line
            mouseClick(row, 3, 3)
            compare(spy.count, 2)
            compare(row.Accessible.name, "llama3.2")
            compare(ScreenProbe.accessible(row).role, "RadioButton")
        }
    }

    TestCase {
        name: "ModelsView"
        when: windowShown

        function init() {
            BubbleFixtures.holdTagsReplies(false)
            BubbleFixtures.serveOllamaModels([])
        }

        function makeView() {
            const manager = BubbleFixtures.makeModelManager()
            const view = createTemporaryObject(viewComponent, stage, { modelManager: manager })
            verify(view)
            return view
        }
        function hasText(item, text) {
            if (item.text === text && item.visible)
                return true
            for (let i = 0; i < item.children.length; ++i)
                if (hasText(item.children[i], text))
                    return true
            return false
        }

        function test_emptyOllamaSection() {
            const view = makeView()
            tryCompare(view.modelManager, "isRefreshing", false, 10000)
            compare(view.width, 360)
            for (const text of ["Models", "Apple Intelligence", "Default on-device model. Private, offline, no setup needed.",
                                "Other Models", "No Ollama models found", "Start Ollama and tap \u21BA to refresh.",
                                "For advanced users. Manage and download models via the Ollama app."])
                verify(hasText(view, text), text)
            verify(findChild(view, "noModelsLine").visible)
            compare(findChild(view, "ollamaRows").count, 0)
            const aiRow = findChild(view, "aiRow")
            compare(aiRow.isSelected, true)
            compare(aiRow.name, "Apple Intelligence")
            // No on-device model on this platform: the mark says so instead of the checkmark.
            compare(findChild(aiRow, "unavailableLabel").visible, !aiRow.available)
            compare(findChild(aiRow, "checkmark").visible, aiRow.available)
        }

        function test_refreshButtonIsBusyWhileRefreshing() {
            BubbleFixtures.holdTagsReplies(true)
            const requests = BubbleFixtures.tagsRequestCount()
            const view = makeView()
            const button = findChild(view, "refreshButton")
            const icon = findChild(view, "refreshIcon")
            tryCompare(view.modelManager, "isRefreshing", true)
            // The manager's own first refresh and the one of the panel's appearance.
            tryVerify(() => BubbleFixtures.tagsRequestCount() === requests + 2, 10000)
            compare(button.enabled, false)
            compare(icon.name, "arrow.clockwise.circle.fill")
            compare(icon.opacity, 0.5)
            compare(button.Accessible.name, "Refresh Models")
            mouseClick(button)
            button.clicked()  // what a screen reader's press does on a control it sees as enabled
            wait(200)
            compare(BubbleFixtures.tagsRequestCount(), requests + 2, "no refresh while one runs")
            BubbleFixtures.holdTagsReplies(false)
            tryCompare(view.modelManager, "isRefreshing", false, 10000)
            compare(button.enabled, true)
            compare(icon.name, "arrow.clockwise")
            compare(icon.opacity, 1)
            mouseClick(button)
            tryVerify(() => BubbleFixtures.tagsRequestCount() === requests + 3, 10000)
        }

        function test_everyAppearanceRefreshes() {
            const requests = BubbleFixtures.tagsRequestCount()
            const view = makeView()
            tryVerify(() => BubbleFixtures.tagsRequestCount() === requests + 2, 10000)
            tryCompare(view.modelManager, "isRefreshing", false, 10000)
            for (let opening = 1; opening <= 2; ++opening) {
                view.visible = false
                view.visible = true
                tryVerify(() => BubbleFixtures.tagsRequestCount() === requests + 2 + opening, 10000)
                tryCompare(view.modelManager, "isRefreshing", false, 10000)
            }
        }

        // Dozens of models in a panel shorter than the list: the wheel and the
        // scroll bar reach every row and the footer.
        function test_thirtyModelsScroll() {
            const names = []
            for (let i = 1; i <= 30; ++i)
                names.push("model-" + i + ":7b")
            BubbleFixtures.serveOllamaModels(names)
            const view = makeView()
            view.height = 400
            const rows = findChild(view, "ollamaRows")
            tryCompare(rows, "count", 30, 10000)
            tryCompare(view.modelManager, "isRefreshing", false, 10000)
            const list = findChild(view, "modelList")
            tryVerify(() => list.contentHeight > list.height * 2)
            verify(list.mapToItem(view, 0, list.height).y <= view.height, "the list ends inside the panel")
            const inView = (item) => {
                const top = item.mapToItem(list, 0, 0).y
                return top >= 0 && top + item.height <= list.height
            }
            verify(!inView(rows.itemAt(29)))

            mouseWheel(list, list.width / 2, list.height / 2, 0, -120)
            tryVerify(() => list.contentY > 0, 2000, "the wheel scrolls")
            const bar = findChild(view, "modelListScrollBar")
            verify(bar.size < 1)
            mouseDrag(bar, bar.width / 2, bar.position * bar.height + 5, 0, bar.height)
            tryCompare(list, "contentY", list.contentHeight - list.height)
            verify(inView(rows.itemAt(29)), "the last row is reached")
            verify(hasText(view, "For advanced users. Manage and download models via the Ollama app."))
            mouseClick(rows.itemAt(29))
            compare(view.modelManager.selectedID, rows.itemAt(29).backend.info.id)
        }

        function test_selectingAnOllamaRowMovesTheCheckmark() {
            BubbleFixtures.serveOllamaModels(["llama3.2:latest", "qwen2.5:7b"])
            const view = makeView()
            const rows = findChild(view, "ollamaRows")
            tryCompare(rows, "count", 2, 10000)
            tryCompare(view.modelManager, "isRefreshing", false, 10000)
            verify(!findChild(view, "noModelsLine").visible)
            const second = rows.itemAt(1)
            compare(second.name, "qwen2.5:7b")
            compare(second.Accessible.name, "qwen2.5:7b")
            compare(findChild(second, "unavailableLabel").visible, false)
            compare(findChild(second, "checkmark").visible, false)
            mouseClick(second)
            compare(view.modelManager.selectedID, second.backend.info.id)
            compare(findChild(second, "checkmark").visible, true)
            compare(findChild(rows.itemAt(0), "checkmark").visible, false)
            compare(findChild(view, "aiRow").isSelected, false)
            verify(view.visible, "the panel stays open")
        }

        // What a current server lists: a cloud model that another computer
        // runs (shown, unavailable, never chosen by pointer, key or screen
        // reader), sizes beyond 2^53, null members, an embedding-only model.
        function test_aCloudModelIsShownButCannotBeChosen() {
            BubbleFixtures.serveOllamaTags('{"models":['
                + '{"name":"gpt-oss:120b-cloud","model":"gpt-oss:120b-cloud","size":384,"remote_model":"gpt-oss:120b",'
                + '"remote_host":"https://ollama.com:443","details":{"family":"","families":null},'
                + '"capabilities":["completion","tools"]},'
                + '{"name":"nomic-embed-text","size":274302450,"capabilities":["embedding"]},'
                + '{"name":"huge","size":9223372036854775807,"details":{"families":null}}]}')
            const view = makeView()
            const rows = findChild(view, "ollamaRows")
            tryCompare(rows, "count", 3, 10000)
            tryCompare(view.modelManager, "isRefreshing", false, 10000)
            const cloud = rows.itemAt(0)
            const detail = "Runs on ollama.com \u2014 not on this computer"
            compare(cloud.name, "gpt-oss:120b-cloud")
            compare(findChild(cloud, "detailLabel").text, detail)
            compare(findChild(cloud, "unavailableLabel").visible, true)
            compare(cloud.Accessible.name, "gpt-oss:120b-cloud")
            compare(cloud.Accessible.description, "Unavailable, " + detail)
            compare(rows.itemAt(2).Accessible.description, "9223372036.9 GB \u00b7 Ollama")

            const before = view.modelManager.selectedID
            mouseClick(cloud)
            cloud.forceActiveFocus()
            keyClick(Qt.Key_Space)
            cloud.clicked()  // what a screen reader's press does
            compare(view.modelManager.selectedID, before)
            compare(findChild(cloud, "checkmark").visible, false)

            const embedding = rows.itemAt(1)
            embedding.forceActiveFocus()
            keyClick(Qt.Key_Space)
            compare(view.modelManager.selectedID, embedding.backend.info.id)
            compare(findChild(embedding, "checkmark").visible, true)
        }
    }
    // The on-device row says where its model file goes; the button under it,
    // a Tab stop after the row, creates that folder owner-only and opens it,
    // and nothing else.
    TestCase {
        name: "ModelsFolder"
        when: windowShown

        // A home folder of the test's own, with no XDG_DATA_HOME.
        property string home
        property var saved: ({})

        function init() {
            BubbleFixtures.serveOllamaModels([])
            BubbleFixtures.clearOpenedUrls()
            home = BubbleFixtures.temporaryFolder()
            saved = { home: BubbleFixtures.putEnv("HOME", home), data: BubbleFixtures.putEnv("XDG_DATA_HOME", "") }
        }
        function cleanup() {
            BubbleFixtures.putEnv("HOME", saved.home)
            BubbleFixtures.putEnv("XDG_DATA_HOME", saved.data)
        }

        function test_onDeviceRowNamesAndOpensTheModelsFolder() {
            const folder = home + "/.local/share/Hushwing/Models"
            const note = "The on-device model is a .gguf file in ~/.local/share/Hushwing/Models."
            const view = createTemporaryObject(viewComponent, stage, { modelManager: BubbleFixtures.makeModelManager() })
            tryCompare(view.modelManager, "isRefreshing", false, 10000)
            const aiRow = findChild(view, "aiRow")
            const text = findChild(view, "modelFolderText")
            const button = findChild(view, "openModelFolderButton")
            compare(text.text, note)
            verify(text.visible)
            compare(ScreenProbe.accessible(text).name, note)
            compare(aiRow.Accessible.description, (aiRow.available ? "" : "Unavailable, ") + "On-device \u00b7 Private. " + note)
            verify(!BubbleFixtures.isOwnerOnlyFolder(folder), "not there yet")

            // Tab from the row; Return, Space and a screen reader's press each open it.
            aiRow.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Tab)
            verify(button.activeFocus)
            const announced = ScreenProbe.accessible(button)
            compare(announced.role, "Button")
            compare(announced.name, "Open Models Folder")
            compare(announced.description, "~/.local/share/Hushwing/Models")
            keyClick(Qt.Key_Return)
            compare(BubbleFixtures.openedUrls(), ["file://" + folder])
            verify(BubbleFixtures.isOwnerOnlyFolder(folder))
            verify(BubbleFixtures.isOwnerOnlyFolder(home + "/.local/share/Hushwing"), "the store's folder too")
            keyClick(Qt.Key_Space)
            verify(ScreenProbe.press(button))
            compare(BubbleFixtures.openedUrls().length, 3)
            compare(findChild(view, "modelFolderFailure").visible, false)
            keyClick(Qt.Key_Tab)
            compare(view.Window.activeFocusItem, findChild(view, "refreshButton"))

            // A folder that cannot be made: a sentence says so, on screen and
            // to a screen reader, and nothing is opened; the next opening forgets it.
            // (A home folder whose name only starts the path is not written "~".)
            BubbleFixtures.putEnv("XDG_DATA_HOME", "/dev/null/data")
            BubbleFixtures.putEnv("HOME", "/dev/nu")
            mouseClick(button)
            const failure = findChild(view, "modelFolderFailure")
            const sentence = "Could not create the folder /dev/null/data/Hushwing/Models."
            compare(failure.text, sentence)
            verify(failure.visible)
            compare(failure.color, Theme.orange)
            compare(ScreenProbe.accessible(button).description, sentence)
            compare(BubbleFixtures.openedUrls().length, 3)
            view.visible = false
            view.visible = true
            compare(failure.visible, false)
        }
    }
}
