#include "ModelsCardModel.h"

#include "models/ModelManager.h"
#include "support/DescribedError.h"
#include "support/FutureWatch.h"

#include <QVariantMap>

namespace {

struct Row {
    const char *name;
    const char *description;
    const char *modelId;
};

// The card's own names and descriptions, in the order shown. They say what
// happens on this system: no speech here uses the voice model, so it is not
// fetched at launch as the others are.
constexpr Row kRows[] = {
    {"Whisper Base", "148 MB — Fast offline transcription", "ggml-base.bin"},
    {"Whisper Large v3", "1.1 GB — Highest accuracy (auto-download)", "ggml-large-v3-q5_0.bin"},
    {"Qwen 2.5 3B (Rewrite)", "2.07 GB — AI text polishing (auto-download)", "qwen2.5-3b-instruct-q4_k_m.gguf"},
    {"Kokoro TTS (82M)", "330 MB — AI voice synthesis (not used on this system)", "kokoro-v1_0.safetensors"},
};

} // namespace

ModelsCardModel::ModelsCardModel(ModelManager &manager, ModelDownloadService::Factory makeDownloadService,
                                 QList<ModelDescriptor> catalogue, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_makeDownloadService(std::move(makeDownloadService))
    , m_catalogue(std::move(catalogue))
{
    connect(&manager, &ModelManager::installedModelIDsChanged, this, &ModelsCardModel::rowsChanged);
    connect(&manager, &ModelManager::isDownloadingChanged, this, &ModelsCardModel::isDownloadingChanged);
    connect(&manager, &ModelManager::downloadProgressChanged, this, &ModelsCardModel::downloadProgressChanged);
    connect(&manager, &ModelManager::downloadStatusTextChanged, this, &ModelsCardModel::statusTextChanged);
    connect(&manager, &ModelManager::downloadFailureTextChanged, this, [this] {
        emit failureTextChanged();
        emit statusTextChanged();
    });
}

QVariantList ModelsCardModel::rows() const
{
    const QSet<QString> installed = m_manager.installedModelIDs();
    QVariantList rows;
    for (const Row &row : kRows) {
        const QString modelId = QString::fromUtf8(row.modelId);
        const bool inCatalogue = std::any_of(m_catalogue.cbegin(), m_catalogue.cend(),
                                             [&](const ModelDescriptor &model) { return model.id == modelId; });
        rows << QVariantMap{{QStringLiteral("name"), QString::fromUtf8(row.name)},
                            {QStringLiteral("description"), QString::fromUtf8(row.description)},
                            {QStringLiteral("modelId"), modelId},
                            {QStringLiteral("inCatalogue"), inCatalogue},
                            {QStringLiteral("installed"), inCatalogue && installed.contains(modelId)}};
    }
    return rows;
}

bool ModelsCardModel::isDownloading() const
{
    return m_manager.isDownloading() || m_running;
}

double ModelsCardModel::downloadProgress() const
{
    return m_manager.downloadProgress();
}

QString ModelsCardModel::statusText() const
{
    if (!isDownloading() && !failureText().isEmpty())
        return failureText();
    return m_manager.downloadStatusText().value_or(QStringLiteral("Downloading..."));
}

QString ModelsCardModel::failureText() const
{
    return m_manager.downloadFailureText();
}

void ModelsCardModel::download(const QString &modelId)
{
    const auto model = std::find_if(m_catalogue.cbegin(), m_catalogue.cend(),
                                    [&](const ModelDescriptor &entry) { return entry.id == modelId; });
    if (isDownloading() || model == m_catalogue.cend())
        return;
    ModelDownloadService *service = m_makeDownloadService().release();
    service->setParent(this);
    m_running = service;
    emit isDownloadingChanged();
    const auto finish = [this, service] {
        service->deleteLater();
        m_running = nullptr;
        emit isDownloadingChanged();
        emit statusTextChanged();
    };
    m_followed.follow(Futures::cancellationAsFailure(service->download(*model, &m_manager)))
        .then(this, finish)
        .onFailed(this, [this, finish, id = model->id](const std::exception &error) {
            // pressed by the user: every reason counts, not only lasting ones
            m_manager.setDownloadFailure(id, id + QStringLiteral(": ") + describeException(error));
            finish();
        })
        .onFailed(this, finish);
}
