import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Hushwing

// What the program is, what it promises and what it cannot do, its version,
// the maker's link and the copyright line. 400 wide; scrolls vertically only.
Flickable {
    id: root

    // The version as built and the maker's address; tests give other values.
    property string version: AppConfig.version
    property string website: AppConfig.website

    readonly property string versionText: "Version " + AboutInfo.displayVersion(version)
    readonly property bool websiteIsLink: AboutInfo.isLink(website)

    SystemPalette { id: palette; colorGroup: SystemPalette.Active }
    readonly property color accentColor: palette.highlight
    readonly property color secondaryColor: Qt.rgba(palette.windowText.r, palette.windowText.g,
                                                    palette.windowText.b, 0.55)

    width: 400
    implicitHeight: column.implicitHeight
    contentWidth: width
    contentHeight: column.implicitHeight
    flickableDirection: Flickable.VerticalFlick
    boundsBehavior: Flickable.StopAtBounds
    clip: true
    ScrollBar.vertical: ScrollBar {}

    component Divider: Rectangle {
        Layout.fillWidth: true
        implicitHeight: 1
        color: Qt.rgba(0.5, 0.5, 0.5, 0.3)
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
                color: root.accentColor
                Layout.alignment: Qt.AlignHCenter
            }
            Label {
                text: AppConfig.appName
                font.pixelSize: 28
                font.bold: true
                Layout.alignment: Qt.AlignHCenter
            }
            Label {
                objectName: "versionLabel"
                text: root.versionText
                textFormat: Text.PlainText
                font.pixelSize: 13
                color: root.secondaryColor
                Layout.alignment: Qt.AlignHCenter
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
                font.pixelSize: 14
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            ColumnLayout {
                objectName: "features"
                spacing: 10
                Layout.topMargin: 4
                Layout.bottomMargin: 4
                Layout.fillWidth: true
                AboutRow { icon: "lock.shield"; text: "Fully private \u2014 nothing leaves your device"; color: root.accentColor; Layout.fillWidth: true }
                AboutRow { icon: "wifi.slash"; text: "Works completely offline"; color: root.accentColor; Layout.fillWidth: true }
                AboutRow { icon: "person.slash"; text: "No account or sign-in required"; color: root.accentColor; Layout.fillWidth: true }
                AboutRow { icon: "cpu"; text: "Powered by Apple Intelligence, or other local models if available"; color: root.accentColor; Layout.fillWidth: true }
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
                font.pixelSize: 12
                font.weight: Font.DemiBold
                color: root.secondaryColor
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            ColumnLayout {
                objectName: "limitations"
                spacing: 10
                Layout.fillWidth: true
                AboutRow { icon: "calendar.badge.exclamationmark"; text: "Knowledge cutoff \u2014 may not know recent events"; color: "orange"; Layout.fillWidth: true }
                AboutRow { icon: "hand.raised"; text: "Content guardrails \u2014 some topics may be declined or answered cautiously"; color: "orange"; Layout.fillWidth: true }
                AboutRow { icon: "exclamationmark.triangle"; text: "Not a substitute for medical, legal, or financial advice"; color: "orange"; Layout.fillWidth: true }
            }
            Label {
                text: AppConfig.disclaimer
                font.pixelSize: 11
                color: root.secondaryColor
                wrapMode: Text.Wrap
                topPadding: 4
                Layout.fillWidth: true
            }
        }

        Divider {}

        // Footer
        ColumnLayout {
            spacing: 4
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 20
            Layout.bottomMargin: 20
            AbstractButton {
                id: websiteLink
                objectName: "websiteLink"
                visible: root.websiteIsLink
                hoverEnabled: true
                Layout.alignment: Qt.AlignHCenter
                onClicked: DesktopActions.openLink(AboutInfo.websiteUrl(root.website).toString())
                Accessible.role: Accessible.Link
                Accessible.name: AboutInfo.linkLabel(root.website)
                Accessible.onPressAction: websiteLink.clicked()
                HoverHandler { cursorShape: Qt.PointingHandCursor }
                contentItem: Label {
                    text: AboutInfo.linkLabel(root.website)
                    textFormat: Text.PlainText
                    font.pixelSize: 12
                    font.weight: Font.Medium
                    font.underline: websiteLink.hovered
                    color: root.accentColor
                }
                background: Item {}
            }
            Label {
                objectName: "websiteText"
                visible: !root.websiteIsLink
                text: root.website
                textFormat: Text.PlainText
                font.pixelSize: 12
                font.weight: Font.Medium
                Layout.alignment: Qt.AlignHCenter
            }
            Label {
                text: AppConfig.copyright
                font.pixelSize: 11
                color: root.secondaryColor
                Layout.alignment: Qt.AlignHCenter
            }
        }
    }
}
