import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// What the program is, what it promises and what it cannot do, its version,
// the maker's link and the copyright line. 400 wide; scrolls vertically only,
// with the wheel, the scroll bar or the keys (arrows, Page Up and Down, Home, End).
Flickable {
    id: root

    // The version as built and the maker's address; tests give other values.
    property string version: AppConfig.version
    property string website: AppConfig.website

    readonly property string versionText: "Version " + AboutInfo.displayVersion(version)
    readonly property bool websiteIsLink: AboutInfo.isLink(website)

    width: 400
    implicitHeight: column.implicitHeight
    contentWidth: width
    contentHeight: column.implicitHeight
    flickableDirection: Flickable.VerticalFlick
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    activeFocusOnTab: true
    ScrollBar.vertical: ScrollBar {}

    Accessible.role: Accessible.Pane
    Accessible.name: qsTr("About %1").arg(AppConfig.appName)

    // The keys scroll the text: a line, a page, or to either end.
    function scrollTo(y) { contentY = Math.max(0, Math.min(contentHeight - height, y)) }
    Keys.onPressed: (event) => {
        const line = Theme.bodySize * 3
        if (event.key === Qt.Key_Up)
            scrollTo(contentY - line)
        else if (event.key === Qt.Key_Down)
            scrollTo(contentY + line)
        else if (event.key === Qt.Key_PageUp)
            scrollTo(contentY - height + line)
        else if (event.key === Qt.Key_PageDown)
            scrollTo(contentY + height - line)
        else if (event.key === Qt.Key_Home)
            scrollTo(0)
        else if (event.key === Qt.Key_End)
            scrollTo(contentHeight)
        else
            return
        event.accepted = true
    }

    // The focus ring stays on the visible area, not on the scrolled text.
    FocusRing {
        parent: root
        outset: -Theme.focusRingWidth
        z: 1
    }

    component Divider: Rectangle {
        Layout.fillWidth: true
        implicitHeight: 1
        color: Theme.divider
    }

    ColumnLayout {
        id: column
        width: root.width
        spacing: 0

        // Header
        ColumnLayout {
            spacing: 12
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 32
            Layout.bottomMargin: 24
            SymbolIcon {
                name: "brain"
                size: 64
                color: Theme.accent
                Layout.alignment: Qt.AlignHCenter
            }
            Label {
                text: AppConfig.appName
                color: Theme.primary
                font.pixelSize: Theme.largeTitleSize
                font.bold: true
                Layout.alignment: Qt.AlignHCenter
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            Label {
                objectName: "versionLabel"
                text: root.versionText
                textFormat: Text.PlainText
                font.pixelSize: Theme.subheadlineSize
                color: Theme.secondary
                Layout.alignment: Qt.AlignHCenter
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        Divider {}

        // Description and features
        ColumnLayout {
            spacing: 16
            Layout.margins: 24
            Layout.fillWidth: true
            Label {
                text: AppConfig.appDescription
                color: Theme.primary
                font.pixelSize: Theme.bodySize
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            ColumnLayout {
                objectName: "features"
                spacing: 10
                Layout.topMargin: 4
                Layout.bottomMargin: 4
                Layout.fillWidth: true
                AboutRow { icon: "lock.shield"; text: "Fully private \u2014 nothing leaves your device"; color: Theme.accent; Layout.fillWidth: true }
                AboutRow { icon: "wifi.slash"; text: "Works completely offline"; color: Theme.accent; Layout.fillWidth: true }
                AboutRow { icon: "person.slash"; text: "No account or sign-in required"; color: Theme.accent; Layout.fillWidth: true }
                AboutRow { icon: "cpu"; text: "Powered by Apple Intelligence, or other local models if available"; color: Theme.accent; Layout.fillWidth: true }
            }
        }

        Divider {}

        // Limitations
        ColumnLayout {
            spacing: 12
            Layout.margins: 24
            Layout.fillWidth: true
            Label {
                objectName: "limitationsHeading"
                text: "Limitations"
                font.capitalization: Font.AllUppercase
                font.pixelSize: Theme.footnoteSize
                font.weight: Font.DemiBold
                color: Theme.secondary
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            ColumnLayout {
                objectName: "limitations"
                spacing: 10
                Layout.fillWidth: true
                AboutRow { icon: "calendar.badge.exclamationmark"; text: "Knowledge cutoff \u2014 may not know recent events"; color: Theme.orange; Layout.fillWidth: true }
                AboutRow { icon: "hand.raised"; text: "Content guardrails \u2014 some topics may be declined or answered cautiously"; color: Theme.orange; Layout.fillWidth: true }
                AboutRow { icon: "exclamationmark.triangle"; text: "Not a substitute for medical, legal, or financial advice"; color: Theme.orange; Layout.fillWidth: true }
            }
            Label {
                text: AppConfig.disclaimer
                font.pixelSize: Theme.captionSize
                color: Theme.secondary
                wrapMode: Text.Wrap
                topPadding: 4
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }

        Divider {}

        // Footer
        ColumnLayout {
            spacing: 4
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 20
            Layout.bottomMargin: 20
            // A link, for screen readers too (a button would be read as one).
            Item {
                id: websiteLink
                objectName: "websiteLink"
                readonly property string text: AboutInfo.linkLabel(root.website)
                function open() { DesktopActions.openLink(AboutInfo.websiteUrl(root.website).toString()) }

                visible: root.websiteIsLink
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: linkLabel.implicitWidth + 4
                implicitHeight: linkLabel.implicitHeight + 4
                activeFocusOnTab: true
                // Reached with Tab, it scrolls into view.
                onActiveFocusChanged: if (activeFocus) root.scrollTo(root.contentHeight)
                Keys.onReturnPressed: open()
                Keys.onEnterPressed: open()
                Keys.onSpacePressed: open()
                Accessible.role: Accessible.Link
                Accessible.name: text
                Accessible.focusable: true
                Accessible.onPressAction: open()

                Label {
                    id: linkLabel
                    anchors.centerIn: parent
                    text: websiteLink.text
                    textFormat: Text.PlainText
                    font.pixelSize: Theme.footnoteSize
                    font.weight: Font.Medium
                    font.underline: linkHover.hovered || websiteLink.activeFocus
                    color: Theme.link
                }
                HoverHandler {
                    id: linkHover
                    cursorShape: Qt.PointingHandCursor
                }
                TapHandler { onTapped: websiteLink.open() }
                FocusRing { radius: 3 }
            }
            Label {
                objectName: "websiteText"
                visible: !root.websiteIsLink
                text: root.website
                textFormat: Text.PlainText
                color: Theme.primary
                font.pixelSize: Theme.footnoteSize
                font.weight: Font.Medium
                Layout.alignment: Qt.AlignHCenter
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            Label {
                text: AppConfig.copyright
                font.pixelSize: Theme.captionSize
                color: Theme.secondary
                Layout.alignment: Qt.AlignHCenter
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
        }
    }
}
