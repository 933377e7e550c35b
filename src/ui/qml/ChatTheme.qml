import QtQuick

// Colours and text sizes of the chat screen, by role. One instance lives in the
// chat screen and is handed to its parts.
QtObject {
    readonly property color accent: "#0A7AFF"
    readonly property color primary: "#1D1D1F"
    readonly property color secondary: Qt.rgba(0.24, 0.24, 0.26, 0.6)
    readonly property color tertiary: Qt.rgba(0.24, 0.24, 0.26, 0.3)
    readonly property color red: "#FF3B30"
    readonly property color white: "#FFFFFF"
    readonly property color divider: Qt.rgba(0, 0, 0, 0.1)

    readonly property int title2Size: 20
    readonly property int subheadlineSize: 13
    readonly property int captionSize: 11
    readonly property int defaultPadding: 16

    // `color` with its opacity multiplied by `opacity`.
    function faded(color, opacity) {
        return Qt.rgba(color.r, color.g, color.b, color.a * opacity)
    }
}
