#include "SpeechTestRig.h"
#include "speech/F5TTSService.h"
#include "models/FileDownload.h"
#include "support/FileSizeLimit.h"
#include "support/FreeSpace.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/LoopbackHttpServer.h"

#include <QNetworkAccessManager>
#include <QtTest>

#include <limits>

using Response = LoopbackHttpServer::Response;
using namespace std::chrono_literals;

namespace {
// how the two kinds of file start: a zip entry, and a safetensors header length then its JSON
const QByteArray kZip("PK\x03\x04", 4);
const QByteArray kSafetensors("\x02\0\0\0\0\0\0\0{}", 10);

Response dropped()
{
    Response response = Response::generated(200'000, 7);
    response.dropAfterBytes = 50'000;
    return response;
}

// Only the files a download meant to leave: no temporary ones.
QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files, QDir::Name);
}

// Which files were asked for: the network stack may send a request again on
// its own when a connection drops, so counting requests would be flaky.
QSet<QString> pathsAsked(const LoopbackHttpServer &server)
{
    QSet<QString> paths;
    for (const auto &request : server.requests())
        paths.insert(request.path());
    return paths;
}
} // namespace

class tst_VoiceDownloads : public QObject {
    Q_OBJECT
private slots:
    void voiceFiles_data();
    void voiceFiles();
    void voicePack_data();
    void voicePack();
    void fullDiskLeavesNothing();
};

void tst_VoiceDownloads::voiceFiles_data()
{
    QTest::addColumn<Response>("voices");
    QTest::addColumn<Response>("model");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("failure");
    const Response archive = Response::withBody(
        NpzWriter::zip({{QStringLiteral("bm_george.npy"), NpzWriter::npy({1}, {1.0f})}}));
    const Response weights = Response::generated(300'000, 1, kSafetensors);
    QTest::newRow("both files") << archive << weights
                                << QStringList{TextToSpeechService::modelFileName, TextToSpeechService::voicesFileName}
                                << QString();
    QTest::newRow("model missing: archive stays")
        << archive << Response::withBody("Not Found", 404, "text/plain")
        << QStringList{TextToSpeechService::voicesFileName} << QStringLiteral("HTTP status 404");
    QTest::newRow("archive cut off") << dropped() << weights << QStringList{}
                                     << QStringLiteral("[TTS] Download failed: ");
    QTest::newRow("model is a page") << archive << Response::withBody("<!DOCTYPE html>" + QByteArray(2000, ' '), 200, "text/plain")
                                     << QStringList{TextToSpeechService::voicesFileName}
                                     << QStringLiteral("2 KB of HTML where a safetensors file was expected");
    Response unsized = weights;
    unsized.closeDelimited = true;
    QTest::newRow("model of no announced size") << archive << unsized << QStringList{TextToSpeechService::voicesFileName}
                                                << QStringLiteral("did not announce the file's size");
    // the idle timer runs from the last data, not from the start: the whole
    // body takes several times the limit, each pause a fraction of it
    Response slow = weights;
    slow.paceBytes = 10'000;
    slow.paceMs = 40;
    QTest::newRow("slow but steady server")
        << archive << slow << QStringList{TextToSpeechService::modelFileName, TextToSpeechService::voicesFileName}
        << QString();
    Response silent = weights;
    silent.stallAfterBytes = 0;
    QTest::newRow("silent server") << silent << weights << QStringList{}
                                   << QStringLiteral("[TTS] Download failed: The request timed out.");
}

void tst_VoiceDownloads::voiceFiles()
{
    QFETCH(Response, voices);
    QFETCH(Response, model);
    QFETCH(QStringList, files);
    QFETCH(QString, failure);
    LoopbackHttpServer server;
    auto sources = TextToSpeechService::Sources::under(server.url(QStringLiteral("/repo")));
    // Short only where the limit is what the row is about: any other
    // answer, slow on a busy machine, would time out as well.
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "slow but steady server" || tag == "silent server")
        sources.idleTimeout = 400ms;
    server.setResponse(sources.voicesDownloadURL.path(), voices);
    server.setResponse(sources.modelDownloadURL.path(), model);
    SpeechTestRig rig;
    TextToSpeechService &tts = rig.start(sources);
    QVector<double> progress;
    connect(&tts, &TextToSpeechService::downloadProgressChanged, this, [&] { progress << tts.downloadProgress(); });
    LogCapture log;

    tts.prepareOnLaunch();
    QTRY_VERIFY(tts.isDownloading());
    const QFuture<void> refused = tts.downloadModelFiles();
    QVERIFY(refused.isFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!tts.isDownloading(), 10000);

    QCOMPARE(filesIn(tts.modelsDirectory()), files);
    QCOMPARE(tts.isModelDownloaded(), failure.isEmpty());
    // the model is not fetched after the archive failed
    QCOMPARE(pathsAsked(server).contains(sources.modelDownloadURL.path()), !failure.startsWith(QLatin1Char('[')));
    if (!failure.isEmpty()) {
        QVERIFY2(log.contains(failure), qPrintable(log.lines().join(QLatin1Char('\n'))));
        QVERIFY(!tts.isModelLoaded());
        return;
    }
    // progress runs to 1 once per file
    QCOMPARE(progress.count(1.0), 2);
    QVERIFY(progress.indexOf(0.0) > progress.indexOf(1.0));
    QTRY_VERIFY(tts.isModelLoaded());
    QCOMPARE(tts.engineLabel(), QStringLiteral("Kokoro AI (bm_george)"));
}

void tst_VoiceDownloads::voicePack_data()
{
    QTest::addColumn<Response>("model");
    QTest::addColumn<bool>("installed");
    QTest::newRow("installed") << Response::generated(900'000, 2, kSafetensors) << true;
    QTest::newRow("model fails: vocoder removed too") << Response::withBody("gone", 410, "text/plain") << false;
    QTest::newRow("model cut off") << dropped() << false;
}

void tst_VoiceDownloads::voicePack()
{
    QFETCH(Response, model);
    QFETCH(bool, installed);
    LoopbackHttpServer server;
    const auto sources = F5TTSService::Sources::under(server.url(QStringLiteral("/hf")));
    server.setResponse(sources.vocoder.path(), Response::generated(100'000, 1, kZip));
    server.setResponse(sources.model.path(), model);
    QTemporaryDir directory;
    const QString pack = directory.filePath(QStringLiteral("OfflineModels/F5TTS"));
    // an old vocoder alone is no pack
    NpzWriter::write(QDir(pack).filePath(F5TTSService::vocoderFileName), "old");
    F5TTSService service(pack, sources);
    QVERIFY(!service.isDownloaded());
    QList<double> progress;
    connect(&service, &F5TTSService::downloadProgressChanged, this, [&] { progress << service.downloadProgress(); });

    const QFuture<void> download = service.downloadVoicePack();
    QVERIFY(service.isDownloading());
    QVERIFY(service.downloadVoicePack().isFinished());
    QVERIFY(waitForFuture(download));
    QVERIFY(!service.isDownloading());
    QCOMPARE(service.isDownloaded(), installed);
    QCOMPARE(pathsAsked(server), (QSet<QString>{sources.vocoder.path(), sources.model.path()}));
    QCOMPARE(filesIn(pack), installed ? (QStringList{F5TTSService::modelFileName, F5TTSService::vocoderFileName})
                                      : QStringList{});
    // the vocoder fills the first tenth, the model the rest on top of it
    QVERIFY(progress.contains(F5TTSService::vocoderWeight));
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    if (installed)
        QVERIFY(qFuzzyCompare(progress.last(), 1.0));
    F5TTSService reopened(pack);
    QCOMPARE(reopened.isDownloaded(), installed);
}

void tst_VoiceDownloads::fullDiskLeavesNothing()
{
    LoopbackHttpServer server;
    QTemporaryDir directory;
    const QString destination = directory.filePath(QStringLiteral("voices.npz"));
    QNetworkAccessManager network;
    const DownloadAcceptance anySize(DownloadAcceptance::Format::zip, std::numeric_limits<qint64>::max());
    const auto fetch = [&](const QString &path) {
        QFuture<void> download = FileDownload::fetch(network, server.url(path), destination, anySize, {}, this);
        if (!waitForFuture(download))
            return QStringLiteral("<still running>");
        const auto error = Futures::failureOf(download);
        return error ? describeException(error) : QString();
    };

    // more than the disk holds: refused before a byte is written
    if (FreeSpace::system().figuresAt(directory.path())) {
        server.setResponse(QStringLiteral("/huge"), Response::generated(qint64(1) << 50, 3, kZip));
        const QString error = fetch(QStringLiteral("/huge"));
        QVERIFY2(error.startsWith(QStringLiteral("Not enough free space: the download needs 1.13 PB and only ")),
                 qPrintable(error));
        QCOMPARE(filesIn(directory.path()), QStringList());
    }
    // a disk that fills up part-way through a chunk still says why
    server.setResponse(QStringLiteral("/voices"), Response::generated(200'000, 3, kZip));
    QString error;
    {
        const FileSizeLimit limit(123'457);
        error = fetch(QStringLiteral("/voices"));
    }
    QVERIFY2(error.endsWith(QString::fromLocal8Bit(strerror(EFBIG))), qPrintable(error));
    QCOMPARE(filesIn(directory.path()), QStringList());
}

QTEST_GUILESS_MAIN(tst_VoiceDownloads)
#include "tst_VoiceDownloads.moc"
