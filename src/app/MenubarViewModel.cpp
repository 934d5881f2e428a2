#include "app/MenubarViewModel.h"

#include "app/StatsPhrases.h"
#include "models/ModelDownloadService.h"
#include "models/ModelManager.h"
#include "platform/Pasteboard.h"
#include "platform/Settings.h"
#include "profile/VoiceProfileStore.h"
#include "support/ControlCharacters.h"
#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/Handover.h"
#include "support/Log.h"
#include "support/SerialExecutor.h"

#include <QMultiHash>

struct MenubarViewModel::Snapshot {
    int totalWords = 0;
    int streakDays = 0;
    double averageWPM = 0;
    QList<VoiceProfileStore::RecentSession> sessions;
};

MenubarViewModel::MenubarViewModel(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_coordinator(collaborators.coordinator)
    , m_modelManager(collaborators.modelManager)
    , m_store(collaborators.store)
    , m_pasteboard(collaborators.pasteboard)
    , m_settings(collaborators.settings)
    , m_makeDownloadService(std::move(collaborators.makeDownloadService))
    , m_hasCompletedOnboarding(collaborators.settings.boolean(QStringLiteral("macOnboardingComplete")))
    , m_reader(std::make_unique<SerialExecutor>(QStringLiteral("history reader")))
{
    restoreChoices();
    mirrorCoordinator();
    reload();
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
    const auto setStartFailure = [this](const QString &text) {
        if (m_startFailure == text)
            return;
        m_startFailure = text;
        emit startFailureChanged();
    };
    connect(&m_coordinator, &DictationSessionCoordinator::startFailed, this,
            [this, setStartFailure] { setStartFailure(m_coordinator.statusText()); });
    connect(&m_coordinator, &DictationSessionCoordinator::isStartingChanged, this, [this, setStartFailure] {
        if (m_coordinator.isStarting())
            setStartFailure({});
    });
    // A finished dictation has queued its session: a window already open shows it too.
    connect(&m_coordinator, &DictationSessionCoordinator::isProcessingChanged, this, [this] {
        if (!m_coordinator.isProcessing())
            reload();
    });
}

void MenubarViewModel::reload()
{
    auto published = std::make_shared<QPromise<void>>();
    published->start();
    m_pendingReload = published->future();
    // The reader is joined before this object goes, and a call still queued
    // then goes with it.
    m_reader->post([this, published] {
        Snapshot snapshot{m_store.totalWords(), m_store.streakDays(), m_store.averageWPM(),
                          m_store.recentSessions(historyLimit)};
        Handover::post(this, [this, snapshot = std::move(snapshot), published] {
            publish(snapshot);
            published->finish();
        });
    });
}

void MenubarViewModel::publish(const Snapshot &snapshot)
{
    const auto assign = [this](auto &field, auto value, void (MenubarViewModel::*changed)()) {
        if (field == value)
            return;
        field = value;
        emit(this->*changed)();
    };
    assign(m_totalWords, snapshot.totalWords, &MenubarViewModel::totalWordsChanged);
    assign(m_streakDays, snapshot.streakDays, &MenubarViewModel::streakDaysChanged);
    assign(m_averageWPM, snapshot.averageWPM, &MenubarViewModel::averageWPMChanged);
    assign(m_streakMessage, StatsPhrases::streakMessageText(snapshot.streakDays),
           &MenubarViewModel::streakMessageChanged);

    // Sessions are told apart by their content: the store keeps no id.
    QMultiHash<QDateTime, SessionEntry> known;
    for (const SessionEntry &entry : std::as_const(m_sessions))
        known.insert(entry.timestamp, entry);
    QList<SessionEntry> sessions;
    for (const VoiceProfileStore::RecentSession &row : snapshot.sessions) {
        SessionEntry entry{QUuid(), row.timestamp, row.duration, row.wordCount, row.rawTranscript, row.rewrittenText};
        for (auto it = known.find(row.timestamp); it != known.end() && it.key() == row.timestamp; ++it) {
            if (it->sameSession(entry)) {
                entry.id = it->id;
                known.erase(it);
                break;
            }
        }
        if (entry.id.isNull())
            entry.id = QUuid::createUuid();
        sessions.append(entry);
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
    // also rows recorded before their text was cleaned: a paste into a
    // terminal must not end its bracketed paste and run the line
    m_pasteboard.setString(ControlCharacters::removedForOutput(text));
}

// The dictation choices: type, member, setter suffix. Each is kept in the
// settings file under its own name and restored at launch.
#define TAVRUNE_DICTATION_CHOICES(X)                                                                             \
    X(LanguageOption, selectedLanguage, SelectedLanguage)                                                        \
    X(RewritePreset, selectedPreset, SelectedPreset)                                                             \
    X(ASRModelPreference, selectedASRModel, SelectedASRModel)                                                    \
    X(bool, fillerRemovalEnabled, FillerRemovalEnabled)                                                          \
    X(bool, autoRewriteEnabled, AutoRewriteEnabled)                                                              \
    X(bool, largeModelEnabled, LargeModelEnabled)                                                                \
    X(bool, postProcessingEnabled, PostProcessingEnabled)

namespace {
QString choiceKey(const char *name)
{
    return QStringLiteral("dictation/") + QLatin1String(name);
}

template <typename E>
QVariant storedForm(E value)
{
    return Enums::toString(value);
}

QVariant storedForm(bool value)
{
    return value;
}

// What was stored, when it still names a value; none for a missing or
// unreadable entry, which then keeps its initial value.
template <typename E>
std::optional<E> restored(const QVariant &stored)
{
    return Enums::fromString<E>(stored.toString());
}

template <>
std::optional<bool> restored<bool>(const QVariant &stored)
{
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    // the settings file hands its values back as text
    if (const QString text = stored.toString(); text == QLatin1String("true") || text == QLatin1String("false"))
        return text == QLatin1String("true");
    return std::nullopt;
}
} // namespace

void MenubarViewModel::restoreChoices()
{
#define TAVRUNE_RESTORE_CHOICE(Type, name, Name)                                                                 \
    if (const auto value = restored<Type>(m_settings.value(choiceKey(#name)))) {                                  \
        m_##name = *value;                                                                                       \
        m_coordinator.name = *value;                                                                             \
    }
    TAVRUNE_DICTATION_CHOICES(TAVRUNE_RESTORE_CHOICE)
#undef TAVRUNE_RESTORE_CHOICE
}

// Each setting is stored, then copied into the coordinator's field of the
// same name, on every set; a change is also written to the settings file.
#define TAVRUNE_SETTING_SETTER(Type, name, Name)                                                                 \
    void MenubarViewModel::set##Name(Type value)                                                                 \
    {                                                                                                            \
        const bool changed = !(m_##name == value);                                                               \
        m_##name = value;                                                                                        \
        m_coordinator.name = value;                                                                              \
        if (changed) {                                                                                           \
            m_settings.setValue(choiceKey(#name), storedForm(value));                                            \
            emit name##Changed();                                                                                \
        }                                                                                                        \
    }
TAVRUNE_DICTATION_CHOICES(TAVRUNE_SETTING_SETTER)
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
        chain = m_followed.follow(chain).then(this, [this, model] { return downloadIfMissing(model); }).unwrap();
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
    return m_followed.follow(Futures::cancellationAsFailure(service->download(model, &m_modelManager)))
        .then(this, [service, model] {
            service->deleteLater();
            logLine("ViewModel", QStringLiteral("%1 download complete").arg(model.name));
        })
        .onFailed(this, [service, model](const std::exception &error) {
            service->deleteLater();
            logLine("ViewModel", QStringLiteral("%1 download failed: %2").arg(model.name, describeException(error)));
        });
}
