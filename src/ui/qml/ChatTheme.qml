import QtQuick

// Colours and text sizes of the chat screen, by role. One instance lives in the
// chat screen and is handed to its parts.
QtObject {
    // The accent is the system's highlight colour, as in the message bubbles.
    readonly property SystemPalette systemPalette: SystemPalette { colorGroup: SystemPalette.Active }
    readonly property color accent: systemPalette.highlight
    readonly property color primary: "#1D1D1F"
    // Opaque greys: tinted icons take a colour's RGB and drop its alpha.
    readonly property color secondary: "#8A8A8E"
    readonly property color tertiary: "#AEAEB2"
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
