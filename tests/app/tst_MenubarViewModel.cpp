#include "app/MenubarViewModel.h"
#include "models/ModelDownloadService.h"
#include "models/ModelManager.h"
#include "platform/fake/FakePlatform.h"
#include "profile/VoiceProfileStore.h"

#include "UiTestSupport.h"
#include "support/FutureWait.h"
#include "support/LoopbackHttpServer.h"
#include "support/FakeMonotonicClock.h"
#include "support/WhisperModelWriter.h"

#include <QtTest>

using namespace std::chrono_literals;

// A view model over a real profile file, with fake platform services.
struct Fixture {
    FakePlatform &platform = FakePlatform::installNew();
    QTemporaryDir directory;
    VoiceProfileStore store{directory.filePath(QStringLiteral("profile.sqlite"))};
    // each logged session a minute after the one before, ending now
    QDateTime clock = QDateTime::currentDateTime().addSecs(-3600);

    Fixture()
    {
        store.setClock([this] { return clock = clock.addSecs(60); });
    }

    std::unique_ptr<DictationSessionCoordinator> coordinator = UiTest::makeCoordinator();
    InstantMonotonicClock instantWaits;
    ModelManager models{platform.paths(), WhisperModelShape::tinyFamily()};

    std::unique_ptr<MenubarViewModel> makeViewModel(MonotonicClock *downloadClock = nullptr)
    {
        MonotonicClock &waits = downloadClock ? *downloadClock : instantWaits;
        return std::make_unique<MenubarViewModel>(MenubarViewModel::Collaborators{
            *coordinator, models, store, platform.pasteboard(), platform.settings(), [&waits] {
                auto service = std::make_unique<ModelDownloadService>(waits);
                service->setTimeouts({2s, 20s});
                return service;
            }});
    }
};

class tst_MenubarViewModel : public QObject {
    Q_OBJECT
private slots:
    void loadsStatsAndHistory();
    void historyFilter_data();
    void historyFilter();
    void durationText_data();
    void durationText();
    void dateFollowsTheLocale_data();
    void dateFollowsTheLocale();
    void longTextsAreMeasuredInCharacters_data();
    void longTextsAreMeasuredInCharacters();
    void autoDownloadSkipsInstalledAndGoesOnAfterAFailure();
    void closingWhileADownloadWaitsToRetryEndsTheDownloads();
};

void tst_MenubarViewModel::loadsStatsAndHistory()
{
    Fixture f;
    f.store.logSession(60, 120, QStringLiteral("en"), QStringLiteral("first raw"), QString());
    f.store.logSession(30, 40, QStringLiteral("en"), QStringLiteral("second raw"), QStringLiteral("Second."));
    auto viewModel = f.makeViewModel();
    QVERIFY(waitForFuture(viewModel->pendingReload()));
    QCOMPARE(viewModel->totalWords(), 160);
    QCOMPARE(viewModel->streakDays(), 1);
    QCOMPARE(viewModel->sessions().first().displayText(), QStringLiteral("Second."));
    QCOMPARE(viewModel->sessions().last().displayText(), QStringLiteral("first raw"));

    // A finished dictation's session comes in above the rows already shown, which keep their ids.
    const QList<SessionEntry> before = viewModel->sessions();
    f.store.logSession(10, 5, QStringLiteral("en"), QStringLiteral("third raw"), QString());
    emit f.coordinator->isProcessingChanged();
    QVERIFY(waitForFuture(viewModel->pendingReload()));
    QCOMPARE(viewModel->totalWords(), 165);
    QCOMPARE(viewModel->sessions().size(), 3);
    QCOMPARE(viewModel->sessions().mid(1)[0].id, before[0].id);
    QCOMPARE(viewModel->sessions().mid(1)[1].id, before[1].id);
    QCOMPARE(viewModel->filteredSessions()->count(), 3);
}

void tst_MenubarViewModel::historyFilter_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("kept"); // display texts, in order
    QTest::newRow("single space is a query") << " " << QStringList{"Meeting notes."};
    QTest::newRow("case-insensitive, only the rewritten text has it") << "NOTES." << QStringList{"Meeting notes."};
    QTest::newRow("raw text behind a rewrite") << "umm" << QStringList{"Meeting notes."};
}

void tst_MenubarViewModel::historyFilter()
{
    QFETCH(QString, query);
    QFETCH(QStringList, kept);
    Fixture f;
    f.store.logSession(1, 1, QStringLiteral("en"), QStringLiteral("plan"), QStringLiteral("Plan"));
    f.store.logSession(1, 1, QStringLiteral("en"), QStringLiteral("hello"), QString());
    f.store.logSession(1, 2, QStringLiteral("en"), QStringLiteral("umm meeting notes"), QStringLiteral("Meeting notes."));
    auto viewModel = f.makeViewModel();
    QVERIFY(waitForFuture(viewModel->pendingReload()));
    viewModel->setSearchText(query);
    QStringList shown;
    for (const SessionEntry &entry : viewModel->filteredSessions()->entries())
        shown.append(entry.displayText());
    QCOMPARE(shown, kept);
}

void tst_MenubarViewModel::durationText_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("59.9") << 59.9 << "59s";
    QTest::newRow("60") << 60.0 << "1m 0s";
    QTest::newRow("125") << 125.0 << "2m 5s";
    QTest::newRow("3600") << 3600.0 << "60m 0s";
    QTest::newRow("negative") << -3.0 << "0s";
    QTest::newRow("nan") << qQNaN() << "0s";
    QTest::newRow("infinite") << qInf() << "0s";
}

void tst_MenubarViewModel::durationText()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(SessionEntry::durationText(seconds), text);
}

void tst_MenubarViewModel::dateFollowsTheLocale_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("text");
    QTest::newRow("en_US") << QLocale(QLocale::English, QLocale::UnitedStates) << "Dec 5, 3:41 PM";
    QTest::newRow("de_DE") << QLocale(QLocale::German, QLocale::Germany) << "5. Dez., 15:41";
    QTest::newRow("C: no seconds") << QLocale::c() << "5 Dec, 15:41";
}

void tst_MenubarViewModel::dateFollowsTheLocale()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, text);
    QCOMPARE(SessionEntry::dateText(QDateTime(QDate(2024, 12, 5), QTime(15, 41, 27)), locale), text);
}

void tst_MenubarViewModel::longTextsAreMeasuredInCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isLong");
    QTest::newRow("80") << QString(80, QLatin1Char('a')) << false;
    QTest::newRow("81") << QString(81, QLatin1Char('a')) << true;
    // 80 flags of two code points each: 160 UTF-16 units, 80 characters
    QString flags;
    for (int i = 0; i < 80; ++i)
        flags += QStringLiteral("\U0001F1E9\U0001F1EA");
    QTest::newRow("80 flags") << flags << false;
}

void tst_MenubarViewModel::longTextsAreMeasuredInCharacters()
{
    QFETCH(QString, text);
    QFETCH(bool, isLong);
    QCOMPARE((SessionEntry{{}, {}, 0, 0, text, {}}).isLong(), isLong);
}

void tst_MenubarViewModel::autoDownloadSkipsInstalledAndGoesOnAfterAFailure()
{
    Fixture f;
    LoopbackHttpServer server;
    QList<ModelDescriptor> models = MenubarViewModel::autoDownloadCatalogue();
    for (ModelDescriptor &model : models) {
        model.downloadURL = server.url(QLatin1Char('/') + model.id);
        model.expectedBytes = 1'500'000;
    }
    // Base is installed, Large answers 404, the rewrite model downloads.
    QDir().mkpath(f.models.modelsDirectory());
    QCOMPARE(WhisperModelWriter::writeTinyModel(QDir(f.models.modelsDirectory()).filePath(models[0].id)), QString());
    f.models.refreshInstalledModels();
    server.setResponse(models[1].downloadURL.path(), LoopbackHttpServer::Response::withBody("gone", 404));
    server.setResponse(models[2].downloadURL.path(), LoopbackHttpServer::Response::generated(1'500'000, 3, "GGUF"));

    auto viewModel = f.makeViewModel();
    QVERIFY(waitForFuture(viewModel->autoDownloadModels(models), 30'000));
    for (const LoopbackHttpServer::Request &request : server.requests())
        QVERIFY(request.path() != models[0].downloadURL.path()); // installed: never asked for
    QVERIFY(QFile::exists(QDir(f.models.modelsDirectory()).filePath(models[2].id)));
}

// Quitting the app: the view model goes while a download waits for its next
// attempt. Its continuations end with it (Qt asserts on one left to run on a
// destroyed object), and the next model is not started.
void tst_MenubarViewModel::closingWhileADownloadWaitsToRetryEndsTheDownloads()
{
    Fixture f;
    LoopbackHttpServer server;
    QList<ModelDescriptor> models = MenubarViewModel::autoDownloadCatalogue();
    for (ModelDescriptor &model : models)
        model.downloadURL = server.url(QLatin1Char('/') + model.id);
    server.setResponse(models[0].downloadURL.path(), LoopbackHttpServer::Response::withBody("busy", 503));
    FakeMonotonicClock waits;

    auto viewModel = f.makeViewModel(&waits);
    const QFuture<void> downloads = viewModel->autoDownloadModels(models);
    QVERIFY(QTest::qWaitFor([&] { return waits.pendingCount() > 0; }, 10'000));
    viewModel.reset();
    QVERIFY(downloads.isCanceled());
    for (const LoopbackHttpServer::Request &request : server.requests())
        QCOMPARE(request.path(), models[0].downloadURL.path());
}

QTEST_MAIN(tst_MenubarViewModel)
#include "tst_MenubarViewModel.moc"
