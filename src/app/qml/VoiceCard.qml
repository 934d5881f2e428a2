import QtQuick
import QtQuick.Controls
import Tavrune.Ui
import QtQuick.Layouts

// The voice of speech output: the picker by accent, the engine with a
// preview, and the HD voice pack.
SettingsSection {
    id: card
    required property VoiceSettings voice

    title: "Voice"
    objectName: "voiceCard"

    RowLayout {
        id: voiceRow
        Layout.fillWidth: true
        spacing: 8
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            SymbolLabel { id: voiceLabel; symbol: "person.wave.2"; text: "Voice" }
            Caption {
                objectName: "voiceStatus"
                Layout.fillWidth: true
                text: SettingsChoices.voiceStatusLine(card.voice.isModelLoaded, card.voice.neuralAvailable,
                                                      card.voice.selectedVoice)
                wrapMode: Text.Wrap
                font.pixelSize: 10
                color: Theme.secondary
            }
        }
        Picker {
            objectName: "voicePicker"
            label: voiceLabel.text
            Layout.preferredWidth: Math.min(240, voiceRow.width * 0.6)
            enabled: card.voice.isModelLoaded
            items: SettingsChoices.voicePickerItems(card.voice.availableVoices, card.voice.selectedVoice,
                                                    card.voice.neuralAvailable)
            value: card.voice.selectedVoice
            onPicked: id => card.voice.selectVoice(id)
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        SymbolLabel { symbol: "cpu"; text: "Engine" }
        Item { Layout.fillWidth: true }
        Caption {
            objectName: "engineLabel"
            text: card.voice.engineLabel
            font.family: Theme.monospace
            font.pixelSize: 10
            color: Theme.secondary
        }
        ActionButton {
            objectName: "previewButton"
            prominent: true
            symbol: "play.fill"
            text: "Preview"
            enabled: SettingsChoices.previewEnabled(card.voice.isModelLoaded, card.voice.neuralAvailable,
                                                    card.voice.isSpeaking)
            onClicked: card.voice.previewVoice()
        }
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 8
        ColumnLayout {
            id: voicePackTitle
            Layout.fillWidth: true
            spacing: 1
            SymbolLabel { id: voicePackLabel; symbol: "waveform.badge.plus"; text: "HD Voice Pack" }
            Caption {
                Layout.fillWidth: true
                text: "F5-TTS (1.3 GB) — not used for speech on this system"
                wrapMode: Text.Wrap
                font.pixelSize: 10
                color: Theme.secondary
            }
        }
        Caption {
            objectName: "voicePackInstalled"
            visible: card.voice.voicePackDownloaded
            text: "Installed"
            font.pixelSize: 10
            font.weight: Font.Medium
            color: Theme.green
        }
        ProgressLine {
            id: voicePackProgress
            objectName: "voicePackProgress"
            visible: !card.voice.voicePackDownloaded && card.voice.voicePackDownloading
            Layout.preferredWidth: 80
            value: card.voice.voicePackProgress
            activeFocusOnTab: true
            // then Download again if it failed, or the next card's controls
            FocusHolder {
                id: voicePackFocus
                after: voicePackTitle
            }
        }
        ActionButton {
            objectName: "voicePackDownloadButton"
            visible: !card.voice.voicePackDownloaded && !card.voice.voicePackDownloading
            text: "Download"
            Accessible.name: text + " " + voicePackLabel.text
            // the button goes while the pack downloads: the progress holds the focus
            onClicked: {
                card.voice.downloadVoicePack()
                if (voicePackProgress.visible)
                    voicePackFocus.take(focusReason)
            }
        }
    }
}
