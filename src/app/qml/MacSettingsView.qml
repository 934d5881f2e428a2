import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrune.Ui

// The settings in one scrolling column of cards: the Settings tab of the
// menu-bar window and the settings window (480 x 520) alike. Every control
// acts through the view model or the services; nothing is kept here.
Rectangle {
    id: root
    required property MenubarViewModel viewModel
    required property ViewServices services
    readonly property ModelsCardModel models: services.models
    readonly property AccessibilityStatus accessibility: services.accessibility
    property alias flickable: flickable

    objectName: "settingsView"
    implicitWidth: 480
    implicitHeight: 520
    color: Theme.window

    // The login entry and the accessibility state are read each time the
    // view comes on screen (its host calls this), so both rows tell the
    // truth; neither is changed here.
    function appear() {
        viewModel.launchAtLogin = services.loginItems.isRegistered()
        accessibility.refresh()
    }

    Flickable {
        id: flickable
        anchors.fill: parent
        contentHeight: column.implicitHeight
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: PageScrollBar {}
        FocusInView { flickable: flickable }

        ColumnLayout {
            id: column
            width: flickable.width
            spacing: 20

            Caption {
                Layout.leftMargin: 16
                Layout.topMargin: 12
                text: "Settings"
                font.pixelSize: 16
                font.bold: true
                color: Theme.primary
            }

            SettingsSection {
                id: modelsCard
                title: "Models"
                Layout.fillWidth: true
                Repeater {
                    model: root.models.rows
                    ModelRow {
                        downloadEnabled: !root.models.isDownloading
                        // Every Download button greys while a download runs: the
                        // focus waits on the status, where progress and failure are read.
                        onDownloadClicked: focusReason => {
                            root.models.download(modelData.modelId)
                            if (downloadStatus.visible)
                                downloadStatusFocus.take(focusReason)
                        }
                    }
                }
                RowLayout {
                    objectName: "downloadProgressRow"
                    // after a failed download, its reason in place of the progress
                    visible: root.models.isDownloading || root.models.failureText !== ""
                    Layout.fillWidth: true
                    spacing: 8
                    ProgressLine {
                        visible: root.models.isDownloading
                        Layout.fillWidth: true
                        value: root.models.downloadProgress
                    }
                    Caption {
                        id: downloadStatus
                        objectName: "downloadStatus"
                        Layout.fillWidth: !root.models.isDownloading
                        wrapMode: Text.Wrap
                        text: root.models.statusText
                        font.family: Theme.monospace
                        font.pixelSize: 10
                        color: Theme.secondary
                        activeFocusOnTab: true
                        FocusHolder {
                            id: downloadStatusFocus
                            after: modelsCard
                        }
                    }
                }
            }

            SettingsSection {
                title: "Pipeline"
                Layout.fillWidth: true
                GridLayout {
                    id: modeRow
                    Layout.fillWidth: true
                    // the picker goes under its label where one line cannot hold both
                    columns: modeLabel.implicitWidth + modePicker.implicitWidth + 16 <= width ? 3 : 1
                    SymbolLabel {
                        id: modeLabel
                        symbol: "waveform.circle"
                        text: "Transcription Mode"
                    }
                    Item { Layout.fillWidth: true; visible: modeRow.columns > 1 }
                    Picker {
                        id: modePicker
                        objectName: "modePicker"
                        label: modeLabel.text
                        Layout.fillWidth: modeRow.columns === 1
                        items: SettingsChoices.transcriptionModes
                        value: root.viewModel.selectedASRModel
                        onPicked: value => root.viewModel.selectedASRModel = value
                    }
                }
                SwitchRow {
                    switchName: "largeModelSwitch"
                    symbol: "sparkles"
                    title: "Whisper Large v3 refinement"
                    caption: "Highest accuracy · auto-downloads on first run"
                    value: root.viewModel.largeModelEnabled
                    onChangedByUser: value => root.viewModel.largeModelEnabled = value
                    Capsule {
                        objectName: "hdBadge"
                        visible: root.viewModel.largeModelEnabled
                        text: "HD"
                        tint: Theme.purple
                        fillOpacity: 0.2
                        horizontalPadding: 4
                        verticalPadding: 1
                    }
                }
                SwitchRow {
                    switchName: "postProcessingSwitch"
                    symbol: "wand.and.stars"
                    title: "LLM post-processing"
                    caption: "Fix grammar and correct nonsensical words"
                    value: root.viewModel.postProcessingEnabled
                    onChangedByUser: value => root.viewModel.postProcessingEnabled = value
                }
                SwitchRow {
                    switchName: "fillerSwitch"
                    symbol: "textformat.abc.dottedunderline"
                    title: "Remove filler words (um, uh)"
                    value: root.viewModel.fillerRemovalEnabled
                    onChangedByUser: value => root.viewModel.fillerRemovalEnabled = value
                }
            }

            SettingsSection {
                title: "Dictation"
                Layout.fillWidth: true
                RowLayout {
                    Layout.fillWidth: true
                    SymbolLabel { id: languageLabel; symbol: "globe"; text: "Language" }
                    Item { Layout.fillWidth: true }
                    Picker {
                        objectName: "languagePicker"
                        label: languageLabel.text
                        items: SettingsChoices.languages
                        value: root.viewModel.selectedLanguage
                        onPicked: value => root.viewModel.selectedLanguage = value
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    SymbolLabel { id: styleLabel; symbol: "textformat"; text: "Rewrite Style" }
                    Item { Layout.fillWidth: true }
                    Picker {
                        objectName: "stylePicker"
                        label: styleLabel.text
                        items: SettingsChoices.rewriteStyles
                        value: root.viewModel.selectedPreset
                        onPicked: value => root.viewModel.selectedPreset = value
                    }
                }
                SwitchRow {
                    switchName: "autoRewriteSwitch"
                    symbol: "sparkles"
                    title: "Auto-rewrite after dictation"
                    value: root.viewModel.autoRewriteEnabled
                    onChangedByUser: value => root.viewModel.autoRewriteEnabled = value
                }
            }

            VoiceCard {
                Layout.fillWidth: true
                voice: root.services.voice
            }

            SettingsSection {
                title: "Shortcuts"
                Layout.fillWidth: true
                Repeater {
                    model: [
                        { title: "Hold to record", symbol: "hand.tap",
                          caption: "Hold to record, release to stop", keys: "Alt Space" },
                        { title: "Toggle recording", symbol: "mic.circle",
                          caption: "Press once to start, again to stop", keys: "Super Space" },
                        { title: "Fallback paste", symbol: "doc.on.clipboard",
                          caption: "Paste last transcription if auto-type failed", keys: "Ctrl Alt V" },
                        { title: "Summarize & read aloud", symbol: "speaker.wave.2",
                          caption: "Select text, then speak summary aloud", keys: "Ctrl Alt S" },
                        { title: "Repeat last summary", symbol: "arrow.counterclockwise",
                          caption: "Read the last summary aloud again", keys: "Ctrl Alt R" }
                    ]
                    ShortcutRow { unavailable: root.viewModel.unavailableChords.indexOf(modelData.keys) >= 0 }
                }
            }

            SettingsSection {
                title: "System"
                Layout.fillWidth: true
                SwitchRow {
                    switchName: "launchAtLoginSwitch"
                    symbol: "power"
                    title: "Launch at login"
                    value: root.viewModel.launchAtLogin
                    // The switch keeps the user's value even when the change
                    // is refused; the service logs why.
                    onChangedByUser: value => {
                        root.viewModel.launchAtLogin = value
                        if (value)
                            root.services.loginItems.register_()
                        else
                            root.services.loginItems.unregister()
                    }
                }
                RowLayout {
                    Layout.fillWidth: true
                    SymbolLabel { symbol: "lock.shield"; text: "Accessibility" }
                    Item { Layout.fillWidth: true }
                    SymbolLabel {
                        objectName: "accessibilityEnabled"
                        visible: root.accessibility.trusted
                        symbol: "checkmark.circle.fill"
                        text: "Enabled"
                        fontSize: 12
                        weight: Font.Medium
                        color: Theme.green
                    }
                    ActionButton {
                        objectName: "grantAccessButton"
                        visible: root.accessibility.known && !root.accessibility.trusted
                        text: "Grant Access"
                        font.pixelSize: 12
                        onClicked: root.accessibility.request()
                    }
                }
            }

            SettingsSection {
                title: "About"
                Layout.fillWidth: true
                Layout.bottomMargin: 16
                RowLayout {
                    Layout.fillWidth: true
                    Caption { text: "Tavrune"; font.pixelSize: 12; color: Theme.secondary }
                    Item { Layout.fillWidth: true }
                    Caption {
                        text: "v1.0.0"
                        font.family: Theme.monospace
                        font.pixelSize: 12
                        color: Theme.tertiary
                    }
                }
            }
        }
    }
}
