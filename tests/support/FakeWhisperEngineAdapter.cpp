#include "FakeWhisperEngineAdapter.h"

#include <QFileInfo>

FakeWhisperEngineAdapter::FakeWhisperEngineAdapter(std::shared_ptr<Script> script)
    : m_script(std::move(script))
{
}

QFuture<void> FakeWhisperEngineAdapter::loadModel(const QString &modelPath)
{
    m_script->journal.append(QStringLiteral("load ") + QFileInfo(modelPath).fileName());
    if (m_script->loadError)
        return QtFuture::makeExceptionalFuture(*m_script->loadError);
    return QtFuture::makeReadyFuture();
}

QFuture<std::optional<QString>> FakeWhisperEngineAdapter::ingest(const AudioSamples &frames, LanguageOption)
{
    m_script->journal.append(QStringLiteral("ingest %1").arg(frames.size()));
    m_script->samplesIngested += frames.size();
    m_script->lastIngested = frames;
    if (m_script->ingestError)
        return QtFuture::makeExceptionalFuture<std::optional<QString>>(*m_script->ingestError);
    std::optional<QString> result;
    if (!m_script->ingestResults.empty()) {
        result = m_script->ingestResults.front();
        m_script->ingestResults.pop_front();
    }
    return QtFuture::makeReadyFuture(result);
}

QFuture<QString> FakeWhisperEngineAdapter::finalize(LanguageOption)
{
    m_script->journal.append(QStringLiteral("finalize"));
    if (m_script->finalizeError)
        return QtFuture::makeExceptionalFuture<QString>(*m_script->finalizeError);
    if (m_script->holdFinalize) {
        auto promise = std::make_shared<QPromise<QString>>();
        promise->start();
        m_script->heldFinalizes.append(promise);
        return promise->future();
    }
    QString text;
    if (!m_script->finalizeResults.empty()) {
        text = m_script->finalizeResults.front();
        m_script->finalizeResults.pop_front();
    }
    return QtFuture::makeReadyFuture(text);
}

void finishHeld(const std::shared_ptr<QPromise<QString>> &promise, const QString &text)
{
    promise->addResult(text);
    promise->finish();
}
