import QtQuick
import QtQuick.Controls
import Hushwing

ApplicationWindow {
    width: 640
    height: 800
    visible: true
    title: AppConfig.appName
}
