#pragma once

#include "pipeline/TextInjectionService.h"
#include "platform/fake/FakePlatform.h"
#include "speech/SelectionReader.h"
#include "speech/TextToSpeechService.h"
#include "support/FakeMonotonicClock.h"
#include "support/NpzWriter.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>

// A text-to-speech service on fake platform services, with its models
// directory in a temporary directory.
struct SpeechTestRig {
    FakePlatform platform;
    FakeMonotonicClock clock;
    QTemporaryDir directory;
    TextInjectionService keys{platform, clock};
    SelectionReader reader{platform.workspace(), platform.accessibility(), platform.pasteboard(), keys, clock};
    std::unique_ptr<TextToSpeechService> service;

    // Model file present and an archive holding these voices, each
    // embedding marked by its position (1, 2, ...).
    void installVoiceFiles(const QStringList &voices)
    {
        NpzWriter::write(path(TextToSpeechService::modelFileName), "weights");
        QList<NpzWriter::Entry> entries;
        for (const QString &voice : voices)
            entries.append({voice + QStringLiteral(".npy"), NpzWriter::npy({1}, {float(entries.size() + 1)}), true});
        NpzWriter::write(path(TextToSpeechService::voicesFileName), NpzWriter::zip(entries));
    }

    TextToSpeechService &start(TextToSpeechService::Sources sources = TextToSpeechService::Sources::defaults())
    {
        service = std::make_unique<TextToSpeechService>(TextToSpeechService::Collaborators{
            platform.settings(), platform.audioOutput(), platform.systemSpeechSynthesizer(),
            platform.neuralVoiceEngine(), reader, directory.path(), sources});
        return *service;
    }

    QString path(const QString &name) const { return QDir(directory.path()).filePath(name); }
    FakeSystemSpeechSynthesizer &system() { return platform.fakeSystemSpeechSynthesizer(); }
    FakeNeuralVoiceEngine &neural() { return platform.fakeNeuralVoiceEngine(); }
    FakeAudioOutput &output() { return platform.fakeAudioOutput(); }
};
