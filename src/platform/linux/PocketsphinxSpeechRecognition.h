#pragma once

#include "platform/SpeechRecognizer.h"

#include <QHash>

#include <memory>
#include <mutex>

class PocketsphinxDecoderPool;

// On-device recognition with pocketsphinx and the models Debian installs.
// Only locales with an installed model have a recogniser; there is no
// permission to ask for.
class PocketsphinxSpeechRecognition : public SpeechRecognition {
public:
    static QString defaultModelRoot();

    explicit PocketsphinxSpeechRecognition(QString modelRoot = defaultModelRoot());
    // Cancels the running recognitions and waits for their workers.
    ~PocketsphinxSpeechRecognition() override;

    QFuture<SpeechAuthorizationStatus> requestAuthorization() override;
    std::unique_ptr<SpeechRecognizer> recognizer(const QString &localeIdentifier) override;

private:
    QString m_modelRoot;
    std::mutex m_mutex;
    QHash<QString, std::shared_ptr<PocketsphinxDecoderPool>> m_pools;
};
