#pragma once

#include "app/SessionEntry.h"
#include "app/SessionListModel.h"
#include "models/ModelDescriptor.h"
#include "models/ModelDownloadService.h"
#include "pipeline/ASRModelPreference.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/RewritePreset.h"
#include "support/FutureWatch.h"
#include "support/LanguageOption.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QPromise>
#include <QtQml/qqmlregistration.h>

#include <functional>
#include <memory>

class ModelManager;
class Pasteboard;
class SerialExecutor;
class Settings;
class VoiceProfileStore;

// The one model behind the menu-bar window, the settings and the history:
// mirrors the coordinator's dictation state, holds the dictation settings,
// keeps them in the settings file and copies each change into the coordinator, loads statistics and history from
// the voice profile, and fetches the default models at launch. Main thread.
class MenubarViewModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the application")

    Q_PROPERTY(DictationSessionCoordinator *coordinator READ coordinator CONSTANT)
    Q_PROPERTY(bool isDictating READ isDictating NOTIFY isDictatingChanged)
    Q_PROPERTY(QString liveTranscript READ liveTranscript NOTIFY liveTranscriptChanged)
    Q_PROPERTY(float audioLevel READ audioLevel NOTIFY audioLevelChanged)
    Q_PROPERTY(int totalWords READ totalWords NOTIFY totalWordsChanged)
    Q_PROPERTY(int streakDays READ streakDays NOTIFY streakDaysChanged)
    Q_PROPERTY(double averageWPM READ averageWPM NOTIFY averageWPMChanged)
    Q_PROPERTY(QString streakMessage READ streakMessage NOTIFY streakMessageChanged)
    Q_PROPERTY(int sessionCount READ sessionCount NOTIFY sessionsChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(SessionListModel *filteredSessions READ filteredSessions CONSTANT)
    // Settings, by their stored names ("en", "grammarCorrect", "parallelFast").
    Q_PROPERTY(QString selectedLanguage READ selectedLanguageName WRITE setSelectedLanguageName
                   NOTIFY selectedLanguageChanged)
    Q_PROPERTY(QString selectedPreset READ selectedPresetName WRITE setSelectedPresetName
                   NOTIFY selectedPresetChanged)
    Q_PROPERTY(QString selectedASRModel READ selectedASRModelName WRITE setSelectedASRModelName
                   NOTIFY selectedASRModelChanged)
    Q_PROPERTY(bool fillerRemovalEnabled READ fillerRemovalEnabled WRITE setFillerRemovalEnabled
                   NOTIFY fillerRemovalEnabledChanged)
    Q_PROPERTY(bool autoRewriteEnabled READ autoRewriteEnabled WRITE setAutoRewriteEnabled
                   NOTIFY autoRewriteEnabledChanged)
    Q_PROPERTY(bool largeModelEnabled READ largeModelEnabled WRITE setLargeModelEnabled
                   NOTIFY largeModelEnabledChanged)
    Q_PROPERTY(bool postProcessingEnabled READ postProcessingEnabled WRITE setPostProcessingEnabled
                   NOTIFY postProcessingEnabledChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(bool hasCompletedOnboarding READ hasCompletedOnboarding CONSTANT)
    Q_PROPERTY(bool showOnboarding READ showOnboarding WRITE setShowOnboarding NOTIFY showOnboardingChanged)
    // Labels of the chords another program holds, so they never reach us.
    Q_PROPERTY(QStringList unavailableChords READ unavailableChords NOTIFY unavailableChordsChanged)
    // Why the last start ended without a dictation; empty once another begins.
    Q_PROPERTY(QString startFailure READ startFailure NOTIFY startFailureChanged)

public:
    using DownloadServiceFactory = ModelDownloadService::Factory;

    struct Collaborators {
        DictationSessionCoordinator &coordinator;
        ModelManager &modelManager; // the coordinator's
        VoiceProfileStore &store;
        Pasteboard &pasteboard;
        Settings &settings;
        DownloadServiceFactory makeDownloadService;
    };

    static constexpr int historyLimit = 200;

    explicit MenubarViewModel(Collaborators collaborators, QObject *parent = nullptr);
    ~MenubarViewModel() override;

    DictationSessionCoordinator *coordinator() const { return &m_coordinator; }
    bool isDictating() const { return m_isDictating; }
    QString liveTranscript() const { return m_liveTranscript; }
    float audioLevel() const { return m_audioLevel; }
    int totalWords() const { return m_totalWords; }
    int streakDays() const { return m_streakDays; }
    double averageWPM() const { return m_averageWPM; }
    QString streakMessage() const { return m_streakMessage; }
    const QList<SessionEntry> &sessions() const { return m_sessions; }
    int sessionCount() const { return int(m_sessions.size()); }
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);
    SessionListModel *filteredSessions() { return &m_filteredSessions; }

    LanguageOption selectedLanguage() const { return m_selectedLanguage; }
    void setSelectedLanguage(LanguageOption value);
    RewritePreset selectedPreset() const { return m_selectedPreset; }
    void setSelectedPreset(RewritePreset value);
    ASRModelPreference selectedASRModel() const { return m_selectedASRModel; }
    void setSelectedASRModel(ASRModelPreference value);
    bool fillerRemovalEnabled() const { return m_fillerRemovalEnabled; }
    void setFillerRemovalEnabled(bool value);
    bool autoRewriteEnabled() const { return m_autoRewriteEnabled; }
    void setAutoRewriteEnabled(bool value);
    bool largeModelEnabled() const { return m_largeModelEnabled; }
    void setLargeModelEnabled(bool value);
    bool postProcessingEnabled() const { return m_postProcessingEnabled; }
    void setPostProcessingEnabled(bool value);
    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool value);
    bool hasCompletedOnboarding() const { return m_hasCompletedOnboarding; }
    bool showOnboarding() const { return m_showOnboarding; }
    void setShowOnboarding(bool value);
    QStringList unavailableChords() const { return m_unavailableChords; }
    void setUnavailableChords(const QStringList &labels);
    QString startFailure() const { return m_startFailure; }

    QString selectedLanguageName() const;
    void setSelectedLanguageName(const QString &code);
    QString selectedPresetName() const;
    void setSelectedPresetName(const QString &name);
    QString selectedASRModelName() const;
    void setSelectedASRModelName(const QString &name);

    // Called with every isDictating the coordinator publishes.
    std::function<void(bool)> onDictationStateChanged;

    // Reads the statistics and the last sessions off the main thread (they
    // take long on a large profile), then publishes them; sessionsChanged
    // tells that a read is done. A session read before keeps its entry, id
    // included, so its row in the window stays as it was.
    Q_INVOKABLE void reload();
    // The read started last; finished once it is published.
    QFuture<void> pendingReload() const { return m_pendingReload; }
    // The Start/Stop button: stops when dictating, starts otherwise.
    Q_INVOKABLE void toggleDictation();
    // The history's copy button; the text goes on the clipboard as it would be typed.
    Q_INVOKABLE void copyToPasteboard(const QString &text);

    // Whisper Base, Whisper Large v3 and the rewrite model, in that order.
    static QList<ModelDescriptor> autoDownloadCatalogue();
    // Fetches each model that is not installed, one after another; a failure
    // is logged and the next one still runs. Never fails.
    QFuture<void> autoDownloadModels(const QList<ModelDescriptor> &models = autoDownloadCatalogue());

signals:
    void isDictatingChanged();
    void liveTranscriptChanged();
    void audioLevelChanged();
    void totalWordsChanged();
    void streakDaysChanged();
    void averageWPMChanged();
    void streakMessageChanged();
    void sessionsChanged();
    void searchTextChanged();
    void selectedLanguageChanged();
    void selectedPresetChanged();
    void selectedASRModelChanged();
    void fillerRemovalEnabledChanged();
    void autoRewriteEnabledChanged();
    void largeModelEnabledChanged();
    void postProcessingEnabledChanged();
    void launchAtLoginChanged();
    void showOnboardingChanged();
    void unavailableChordsChanged();
    void startFailureChanged();

private:
    void restoreChoices();
    struct Snapshot;
    void mirrorCoordinator();
    void publish(const Snapshot &snapshot);
    void updateFilteredSessions();
    QFuture<void> downloadIfMissing(const ModelDescriptor &model);

    DictationSessionCoordinator &m_coordinator;
    ModelManager &m_modelManager;
    VoiceProfileStore &m_store;
    Pasteboard &m_pasteboard;
    Settings &m_settings;
    DownloadServiceFactory m_makeDownloadService;

    bool m_isDictating = false;
    QString m_liveTranscript;
    float m_audioLevel = 0;
    int m_totalWords = 0;
    int m_streakDays = 0;
    double m_averageWPM = 0;
    QString m_streakMessage;
    QList<SessionEntry> m_sessions;
    QString m_searchText;
    SessionListModel m_filteredSessions;
    LanguageOption m_selectedLanguage = LanguageOption::english;
    RewritePreset m_selectedPreset = RewritePreset::grammarCorrect;
    ASRModelPreference m_selectedASRModel = ASRModelPreference::parallelFast;
    bool m_fillerRemovalEnabled = true;
    bool m_autoRewriteEnabled = true;
    bool m_largeModelEnabled = false;
    bool m_postProcessingEnabled = true;
    bool m_launchAtLogin = false;
    bool m_hasCompletedOnboarding = false;
    bool m_showOnboarding = false;
    QStringList m_unavailableChords;
    QString m_startFailure;
    QFuture<void> m_pendingReload;
    // Before the services, this object's children, end their downloads.
    Futures::FollowedFutures m_followed;
    // Last: its reads reach the store, and it finishes them before the rest goes.
    std::unique_ptr<SerialExecutor> m_reader;
};
