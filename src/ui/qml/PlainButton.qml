import QtQuick
import QtQuick.Controls
import Hushwing

// A flat button for keyboard users as much as for the mouse: Tab stops on it,
// Space and Return press it, a ring shows the focus, and a screen reader's
// press action presses it. A click does not take the focus away from the
// message field. Disabled, it does nothing, whatever presses it (assistive
// technology may still see it as enabled).
AbstractButton {
    id: button

    // Corner radius of the hover fill; the focus ring follows it, `ringOutset`
    // outside the button's edge (inside when negative, where a scrolling
    // area around the button would cut it).
    property real radius: 6
    property real ringOutset: 3

    function activate() {
        if (enabled)
            clicked()
    }

    focusPolicy: Qt.TabFocus
    hoverEnabled: true
    padding: 4

    Keys.onReturnPressed: activate()
    Keys.onEnterPressed: activate()

    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: activate()

    background: Rectangle {
        radius: button.radius
        color: button.down ? Theme.pressedFill : button.hovered && button.enabled ? Theme.hoverFill : Theme.clear
    }

    FocusRing {
        outset: button.ringOutset
        radius: Math.max(0, button.radius + outset)
    }
}
