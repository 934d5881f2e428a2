#include "FakeWhisperEngineAdapter.h"

#include <QFileInfo>

namespace {
template <typename T>
T takeFront(std::deque<T> &queue)
{
    T front{};
    if (!queue.empty()) {
        front = std::move(queue.front());
        queue.pop_front();
    }
    return front;
}
} // namespace

FakeWhisperEngineAdapter::FakeWhisperEngineAdapter(std::shared_ptr<Script> script)
    : m_script(std::move(script))
{
}

QFuture<void> FakeWhisperEngineAdapter::loadModel(const QString &modelPath)
{
    m_script->journal.append(QStringLiteral("load ") + QFileInfo(modelPath).fileName());
    if (m_script->loadError)
        return QtFuture::makeExceptionalFuture(*m_script->loadError);
    if (m_script->holdLoad) {
        auto promise = std::make_shared<QPromise<void>>();
        promise->start();
        m_script->heldLoads.append(promise);
        return promise->future();
    }
    return QtFuture::makeReadyFuture();
}

QFuture<std::optional<QString>> FakeWhisperEngineAdapter::ingest(const AudioSamples &frames, LanguageOption)
{
    m_script->journal.append(QStringLiteral("ingest %1").arg(frames.size()));
    m_script->samplesIngested += frames.size();
    m_script->lastIngested = frames;
    if (m_script->ingestError)
        return QtFuture::makeExceptionalFuture<std::optional<QString>>(*m_script->ingestError);
    return QtFuture::makeReadyFuture(takeFront(m_script->ingestResults));
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
    return QtFuture::makeReadyFuture(takeFront(m_script->finalizeResults));
}

void finishHeld(const std::shared_ptr<QPromise<QString>> &promise, const QString &text)
{
    promise->addResult(text);
    promise->finish();
}
