#include "app/MenubarViewModel.h"

#include "app/StatsPhrases.h"
#include "models/ModelDownloadService.h"
#include "models/ModelManager.h"
#include "platform/Pasteboard.h"
#include "platform/Settings.h"
#include "profile/VoiceProfileStore.h"
#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/Log.h"

MenubarViewModel::MenubarViewModel(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_coordinator(collaborators.coordinator)
    , m_modelManager(collaborators.modelManager)
    , m_store(collaborators.store)
    , m_pasteboard(collaborators.pasteboard)
    , m_makeDownloadService(std::move(collaborators.makeDownloadService))
    , m_hasCompletedOnboarding(collaborators.settings.boolean(QStringLiteral("macOnboardingComplete")))
{
    mirrorCoordinator();
    refreshStats();
    loadSessions();
}

MenubarViewModel::~MenubarViewModel() = default;

void MenubarViewModel::mirrorCoordinator()
{
    // Every notification is passed on, repeats included.
    connect(&m_coordinator, &DictationSessionCoordinator::isDictatingChanged, this, [this] {
        m_isDictating = m_coordinator.isDictating();
        emit isDictatingChanged();
        if (onDictationStateChanged)
            onDictationStateChanged(m_isDictating);
    });
    connect(&m_coordinator, &DictationSessionCoordinator::liveTranscriptChanged, this, [this] {
        m_liveTranscript = m_coordinator.liveTranscript();
        emit liveTranscriptChanged();
    });
    connect(&m_coordinator, &DictationSessionCoordinator::audioLevelChanged, this, [this] {
        m_audioLevel = m_coordinator.audioLevel();
        emit audioLevelChanged();
    });
}

void MenubarViewModel::refreshStats()
{
    const auto assign = [this](auto &field, auto value, void (MenubarViewModel::*changed)()) {
        if (field == value)
            return;
        field = value;
        emit(this->*changed)();
    };
    assign(m_totalWords, m_store.totalWords(), &MenubarViewModel::totalWordsChanged);
    assign(m_streakDays, m_store.streakDays(), &MenubarViewModel::streakDaysChanged);
    assign(m_averageWPM, m_store.averageWPM(), &MenubarViewModel::averageWPMChanged);
    assign(m_streakMessage, StatsPhrases::streakMessageText(m_store), &MenubarViewModel::streakMessageChanged);
}

void MenubarViewModel::loadSessions()
{
    QList<SessionEntry> sessions;
    for (const VoiceProfileStore::RecentSession &row : m_store.recentSessions(historyLimit)) {
        sessions.append({QUuid::createUuid(), row.timestamp, row.duration, row.wordCount, row.rawTranscript,
                         row.rewrittenText});
    }
    m_sessions = std::move(sessions);
    emit sessionsChanged();
    updateFilteredSessions();
}

void MenubarViewModel::setSearchText(const QString &text)
{
    if (m_searchText == text)
        return;
    m_searchText = text;
    emit searchTextChanged();
    updateFilteredSessions();
}

void MenubarViewModel::updateFilteredSessions()
{
    QList<SessionEntry> kept;
    for (const SessionEntry &entry : std::as_const(m_sessions)) {
        if (entry.matches(m_searchText))
            kept.append(entry);
    }
    m_filteredSessions.setEntries(std::move(kept));
}

void MenubarViewModel::toggleDictation()
{
    m_coordinator.toggleDictation();
}

void MenubarViewModel::copyToPasteboard(const QString &text)
{
    m_pasteboard.setString(text);
}

// Each setting is stored, then copied into the coordinator's field of the
// same name, on every set.
#define TAVRUNE_SETTING_SETTER(Type, name, Name)                                                                 \
    void MenubarViewModel::set##Name(Type value)                                                                 \
    {                                                                                                            \
        const bool changed = !(m_##name == value);                                                               \
        m_##name = value;                                                                                        \
        m_coordinator.name = value;                                                                              \
        if (changed)                                                                                             \
            emit name##Changed();                                                                                \
    }
TAVRUNE_SETTING_SETTER(LanguageOption, selectedLanguage, SelectedLanguage)
TAVRUNE_SETTING_SETTER(RewritePreset, selectedPreset, SelectedPreset)
TAVRUNE_SETTING_SETTER(ASRModelPreference, selectedASRModel, SelectedASRModel)
TAVRUNE_SETTING_SETTER(bool, fillerRemovalEnabled, FillerRemovalEnabled)
TAVRUNE_SETTING_SETTER(bool, autoRewriteEnabled, AutoRewriteEnabled)
TAVRUNE_SETTING_SETTER(bool, largeModelEnabled, LargeModelEnabled)
TAVRUNE_SETTING_SETTER(bool, postProcessingEnabled, PostProcessingEnabled)
#undef TAVRUNE_SETTING_SETTER

void MenubarViewModel::setLaunchAtLogin(bool value)
{
    if (m_launchAtLogin == value)
        return;
    m_launchAtLogin = value;
    emit launchAtLoginChanged();
}

void MenubarViewModel::setShowOnboarding(bool value)
{
    if (m_showOnboarding == value)
        return;
    m_showOnboarding = value;
    emit showOnboardingChanged();
}

void MenubarViewModel::setUnavailableChords(const QStringList &labels)
{
    if (m_unavailableChords == labels)
        return;
    m_unavailableChords = labels;
    emit unavailableChordsChanged();
}

QString MenubarViewModel::selectedLanguageName() const
{
    return Enums::toString(m_selectedLanguage);
}

void MenubarViewModel::setSelectedLanguageName(const QString &code)
{
    if (const auto value = Enums::fromString<LanguageOption>(code))
        setSelectedLanguage(*value);
}

QString MenubarViewModel::selectedPresetName() const
{
    return Enums::toString(m_selectedPreset);
}

void MenubarViewModel::setSelectedPresetName(const QString &name)
{
    if (const auto value = Enums::fromString<RewritePreset>(name))
        setSelectedPreset(*value);
}

QString MenubarViewModel::selectedASRModelName() const
{
    return Enums::toString(m_selectedASRModel);
}

void MenubarViewModel::setSelectedASRModelName(const QString &name)
{
    if (const auto value = Enums::fromString<ASRModelPreference>(name))
        setSelectedASRModel(*value);
}

QList<ModelDescriptor> MenubarViewModel::autoDownloadCatalogue()
{
    return {ModelDescriptor::whisperBase(), ModelDescriptor::whisperLargeV3(), ModelDescriptor::qwenRewrite()};
}

QFuture<void> MenubarViewModel::autoDownloadModels(const QList<ModelDescriptor> &models)
{
    // strictly one after another; a failure never stops the next one
    QFuture<void> chain = QtFuture::makeReadyFuture();
    for (const ModelDescriptor &model : models)
        chain = chain.then(this, [this, model] { return downloadIfMissing(model); }).unwrap();
    return chain;
}

QFuture<void> MenubarViewModel::downloadIfMissing(const ModelDescriptor &model)
{
    if (m_modelManager.installedModelIDs().contains(model.id)) {
        logLine("ViewModel", QStringLiteral("%1 already installed").arg(model.name));
        return QtFuture::makeReadyFuture();
    }
    logLine("ViewModel", QStringLiteral("Auto-downloading %1 (%2 MB)...")
                             .arg(model.name)
                             .arg(double(model.expectedBytes) / 1'000'000.0, 0, 'f', 0));
    // The service ends with the download; it lives on this object until then.
    ModelDownloadService *service = m_makeDownloadService().release();
    service->setParent(this);
    return Futures::cancellationAsFailure(service->download(model, &m_modelManager))
        .then(this, [service, model] {
            service->deleteLater();
            logLine("ViewModel", QStringLiteral("%1 download complete").arg(model.name));
        })
        .onFailed(this, [service, model](const std::exception &error) {
            service->deleteLater();
            logLine("ViewModel", QStringLiteral("%1 download failed: %2").arg(model.name, describeException(error)));
        });
}
