#include "models/CoreMLEncoderDownloader.h"
#include "models/ModelDownloadError.h"
#include "models/ModelDownloadService.h"
#include "models/ModelManager.h"
#include "models/TransferError.h"

#include "support/FakeMonotonicClock.h"
#include "support/FileSizeLimit.h"
#include "support/FreeSpace.h"
#include "support/FutureWait.h"
#include "support/FutureWatch.h"
#include "support/LogCapture.h"
#include "support/LoopbackHttpServer.h"
#include "support/NpzWriter.h"
#include "support/WhisperModelWriter.h"
#include "platform/fake/FakePlatform.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

Q_DECLARE_METATYPE(WhisperModelShape)

using Response = LoopbackHttpServer::Response;
using namespace std::chrono_literals;

namespace {

constexpr qint64 kSize = 3'000'000;
constexpr quint64 kSeed = 11;
// The transfer is the same for every kind of model; a GGUF file is only
// checked for its start and size, a Whisper model for its structure as well.
const QString kPath = QStringLiteral("/model.gguf");
const QByteArray kMagic = "GGUF"; // how a GGUF model starts

Response wholeFile()
{
    Response response = Response::generated(kSize, kSeed, kMagic);
    response.honourRange = true;
    return response;
}

QByteArray payload(qint64 offset = 0, qint64 length = kSize)
{
    return wholeFile().bytes(offset, length);
}

// A 206 for a range that starts later than any request asks for.
Response resumesLater()
{
    Response response = Response::withBody(payload(2'000'000, 1'000'000), 206);
    response.headers.emplace_back("Content-Range", "bytes 2000000-2999999/3000000");
    return response;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

const QList<int> kFullBackoff{1, 4, 9, 16, 25, 30, 30, 30, 30};

} // namespace

// One download against the loopback server, with every published change of
// the manager recorded and the backoff waits taken instantly.
struct Download {
    FakePlatform &platform = FakePlatform::installNew();
    LoopbackHttpServer server;
    ModelManager manager{platform.paths()};
    InstantMonotonicClock clock;
    ModelDownloadService service { clock };
    ModelDescriptor model = ModelDescriptor::qwenRewrite();
    QList<int> &waits = clock.waits;
    QStringList statuses;
    QList<double> progress;

    explicit Download(qint64 expectedBytes = kSize)
    {
        model.downloadURL = server.url(kPath);
        model.expectedBytes = expectedBytes;
        QObject::connect(&manager, &ModelManager::downloadStatusTextChanged, [this] {
            statuses.append(manager.downloadStatusText().value_or(QStringLiteral("<none>")));
        });
        QObject::connect(&manager, &ModelManager::downloadProgressChanged,
                         [this] { progress.append(manager.downloadProgress()); });
        QDir().mkpath(directory());
    }

    QString directory() const { return manager.modelsDirectory(); }
    QString destination() const { return QDir(directory()).filePath(model.id); }
    QString partial() const { return destination() + QStringLiteral(".partial"); }

    // Runs a download to its end; the error's description, or empty.
    static QString finish(QFuture<void> future)
    {
        if (!waitForFuture(future, 60'000))
            return QStringLiteral("<still running>");
        // anything queued before the end must not change the outcome
        QTest::qWait(20);
        const auto error = Futures::failureOf(future);
        return error ? describeException(error) : QString();
    }
    QString run() { return finish(service.download(model, &manager)); }

    // Only for a test whose server stalls on purpose: any attempt, stalled
    // or merely slow on a busy machine, may then time out.
    static constexpr auto stallLimit = 1s;
    void giveUpOnStalls() { service.setTimeouts({stallLimit}); }

    // Attempts as the service made them: the network stack may send a
    // request again on its own, and an attempt may time out before the
    // server thread has read its request.
    int attempts() const { return int(log.lines().filter(QStringLiteral("attempt start:")).size()); }
    LogCapture log;

    bool isIdle() const
    {
        return !manager.isDownloading() && manager.downloadProgress() == 0 && !manager.downloadingModelID()
               && !manager.downloadStatusText();
    }
};

class tst_ModelDownloadService : public QObject {
    Q_OBJECT
private slots:
    void freshDownloadPublishesProgressAndInstalls();
    void resumesOrRestartsWithoutCorruption_data();
    void resumesOrRestartsWithoutCorruption();
    void droppedConnectionsRetryAtOnceAndResetTheCount();
    void failuresFollowTheBackoffScheduleThenGiveUp_data();
    void failuresFollowTheBackoffScheduleThenGiveUp();
    void permanentErrorsAreNotRetried();
    void oneDownloadPerModelAtATime();
    void installReplacesTheOldFileAtomically();
    void fullDiskFailsAtOnceAndKeepsThePartialFile();
    void whisperModelsAreCheckedBeforeTheyAreInstalled_data();
    void whisperModelsAreCheckedBeforeTheyAreInstalled();
};

void tst_ModelDownloadService::freshDownloadPublishesProgressAndInstalls()
{
    Download d;
    d.server.setResponse(kPath, wholeFile());
    QCOMPARE(d.run(), QString());

    QVERIFY(readFile(d.destination()) == payload());
    QVERIFY(!QFileInfo::exists(d.partial()));
    QVERIFY(d.isIdle());

    QCOMPARE(d.attempts(), 1);
    QCOMPARE(d.server.requests().first().header("Accept-Encoding"), QByteArray("identity"));

    QCOMPARE(d.statuses.first(), QStringLiteral("Starting..."));
    QVERIFY(d.statuses.contains(QStringLiteral("3 MB / 3 MB")));
    QCOMPARE(d.statuses.mid(d.statuses.size() - 2), (QStringList{"Complete!", "<none>"}));
    // 1.0 only once the file is in place, then back to idle
    QCOMPARE(d.progress.mid(d.progress.size() - 2), (QList<double>{1.0, 0.0}));
    for (double p : d.progress.mid(0, d.progress.size() - 2))
        QVERIFY2(p <= 0.99, qPrintable(QString::number(p)));
}

void tst_ModelDownloadService::resumesOrRestartsWithoutCorruption_data()
{
    QTest::addColumn<Response>("first"); // the answer to the first request; the whole file after it
    QTest::addColumn<qint64>("partialBytes");
    QTest::addColumn<QByteArrayList>("ranges"); // the Range header of each request

    Response fromStart = Response::generated(kSize, kSeed, kMagic);
    fromStart.status = 206; // claims to resume but sends the file from its start
    fromStart.headers.emplace_back("Content-Range", "bytes 0-2999999/3000000");
    Response overlong = wholeFile();
    overlong.headers.emplace_back("Content-Range", "bytes 1080000-1080099/3000000");
    const QByteArrayList resumed{"bytes=1080000-"};
    QTest::newRow("resumes where it stopped") << wholeFile() << qint64(1'080'000) << resumed;
    QTest::newRow("restarts when the range is ignored") << Response::generated(kSize, kSeed, kMagic) << qint64(1'080'000)
                                                        << resumed;
    QTest::newRow("restarts when the range starts elsewhere") << fromStart << qint64(1'080'000)
                                                              << resumed + QByteArrayList{""};
    // appending it would give a corrupt file of the right size
    QTest::newRow("restarts when the range starts later") << resumesLater() << qint64(1'080'000)
                                                          << resumed + QByteArrayList{""};
    QTest::newRow("restarts when more arrives than the range said")
        << overlong << qint64(1'080'000) << resumed + QByteArrayList{""};
    // the rest is asked for, not the whole file again
    Response stopsShort = Response::withBody(payload(1'080'000, 920'000), 206);
    stopsShort.headers.emplace_back("Content-Range", "bytes 1080000-1999999/3000000");
    QTest::newRow("resumes after a range that stops short") << stopsShort << qint64(1'080'000)
                                                            << resumed + QByteArrayList{"bytes=2000000-"};
    QTest::newRow("keeps the range across a redirect") << Response::redirect("/cdn/file") << qint64(1'080'000)
                                                       << resumed + resumed;
    QTest::newRow("starts over after 416") << Response::withBody({}, 416) << kSize
                                           << QByteArrayList{"bytes=3000000-", ""};
}

void tst_ModelDownloadService::resumesOrRestartsWithoutCorruption()
{
    QFETCH(Response, first);
    QFETCH(qint64, partialBytes);
    QFETCH(QByteArrayList, ranges);

    Download d(4'000'000);
    QVERIFY(NpzWriter::write(d.partial(), payload(0, partialBytes)));
    d.server.enqueue(kPath, first);
    d.server.setResponse(kPath, wholeFile());
    d.server.setResponse(QStringLiteral("/cdn/file"), wholeFile());

    QCOMPARE(d.run(), QString());
    QVERIFY(readFile(d.destination()) == payload());
    QVERIFY(d.waits.isEmpty());
    // The network stack may send a request again on its own: a repeat of
    // the one before is not another request of ours.
    QByteArrayList sent;
    QByteArray previous;
    for (const auto &request : d.server.requests()) {
        const QByteArray asked = request.target + ' ' + request.header("Range");
        if (asked != std::exchange(previous, asked))
            sent.append(request.header("Range"));
    }
    QCOMPARE(sent, ranges);
    // one attempt for each, a redirect followed within it
    QCOMPARE(d.attempts(), int(std::unique(ranges.begin(), ranges.end()) - ranges.begin()));
    if (QByteArray(QTest::currentDataTag()) == "resumes where it stopped")
        QCOMPARE(d.statuses.first(), QStringLiteral("Resuming from 1.1 MB (27%)..."));
}

void tst_ModelDownloadService::droppedConnectionsRetryAtOnceAndResetTheCount()
{
    Download d;
    Response broken = wholeFile();
    broken.dropAfterBytes = 400'000;
    Response stalled = wholeFile();
    stalled.stallAfterBytes = 300'000; // until the client gives up
    // a clean end of stream before the announced range is a drop too
    Response cutShort = wholeFile();
    cutShort.closeDelimited = true;
    cutShort.dropAfterBytes = 200'000;
    const Response busy = Response::withBody("busy", 503, "text/plain");
    // Only the stalled attempt gets a short idle limit: a slow answer to any
    // other would count as a failure. Set on the service's thread before it
    // sees the answer that precedes the attempt.
    const auto setIdleLimit = [&d](std::chrono::milliseconds limit) {
        QMetaObject::invokeMethod(&d.service, [&d, limit] { d.service.setTimeouts({limit}); });
    };
    // Answers depend on the offset asked for (and on how often), so that a
    // request the network stack repeats on its own gets the same answer.
    QHash<QByteArray, int> visits;
    d.server.setHandler([&](const LoopbackHttpServer::Request &request) {
        const QByteArray range = request.header("Range");
        const int visit = ++visits[range];
        if (range.isEmpty())
            return visit == 1 ? busy : broken;
        if (range == "bytes=400000-") {
            if (visit == 1)
                setIdleLimit(Download::stallLimit);
            return visit == 1 ? busy : stalled;
        }
        if (range == "bytes=700000-") {
            // this attempt's idle timer, started short, looks at the limit again when it fires
            setIdleLimit(DownloadAcceptance::idleTimeout);
            return cutShort;
        }
        if (range == "bytes=900000-")
            return broken;
        return wholeFile();
    });

    QCOMPARE(d.run(), QString());
    QVERIFY(readFile(d.destination()) == payload());
    // the count starts again after every attempt that saved bytes
    QCOMPARE(d.waits, (QList<int>{1, 1}));
    QCOMPARE(d.server.requests().last().header("Range"), QByteArray("bytes=1300000-"));
}

void tst_ModelDownloadService::failuresFollowTheBackoffScheduleThenGiveUp_data()
{
    // The first answers a resume, the last a request from the start: what a
    // request gets must not depend on how often the network stack sent it.
    QTest::addColumn<QList<Response>>("replies");
    QTest::addColumn<qint64>("partialBytes"); // kept as it was
    QTest::addColumn<QString>("error"); // empty: nothing listens, the connection is refused
    QTest::newRow("connection refused") << QList<Response>() << qint64(500) << QString();
    // without a Range header a 416 is the server's fault, not a stale file
    QTest::newRow("416 to a plain request") << QList{Response::withBody({}, 416)} << qint64(0)
                                            << QStringLiteral("Server returned HTTP 416.");
    // every resume restarts from zero, or is thrown away for a fresh start,
    // and the transfer breaks off before the old size
    Response restartsAndDrops = Response::generated(kSize, kSeed, kMagic);
    restartsAndDrops.dropAfterBytes = 500'000;
    const QString cut = TransferError::cutShort().description();
    QTest::newRow("restart that never gets further") << QList{restartsAndDrops} << qint64(500'000) << cut;
    QTest::newRow("fresh start that never gets further") << QList{resumesLater(), restartsAndDrops}
                                                         << qint64(500'000) << cut;
    // What arrived is not the model: a page (a captive portal, say), a cut
    // or endless body, a length that makes no sense. The partial file is
    // never touched, and nothing is installed.
    QTest::newRow("page sent as a file")
        << QList{Response::withBody("<html>" + QByteArray(2'200'000, ' '), 200, "application/octet-stream")}
        << qint64(700'000) << QStringLiteral("The server sent 2.2 MB of HTML where a GGUF model was expected.");
    QTest::newRow("small text file") << QList{Response::withBody(QByteArray(512, 'x'), 200, "text/plain")}
                                     << qint64(0)
                                     << QStringLiteral("The server sent 512 bytes of text where a GGUF model was expected.");
    QTest::newRow("whole body of a short length") << QList{Response::generated(1'500'000, kSeed, kMagic)}
                                                  << qint64(700'000)
                                                  << QStringLiteral("The server offered 1.5 MB where a GGUF model of about 3 MB was expected.");
    Response hugeTotal = resumesLater();
    hugeTotal.headers.last().second = "bytes 700000-2999999/30000000";
    QTest::newRow("range of a huge total") << QList{hugeTotal} << qint64(700'000)
                                           << QStringLiteral("The server offered 30 MB where a GGUF model of about 3 MB was expected.");
    Response garbledLength = wholeFile();
    garbledLength.headers.emplace_back("Content-Length", "-5");
    QTest::newRow("garbled length") << QList{garbledLength} << qint64(0)
                                    << QStringLiteral("The server announced an invalid length (\"-5\").");
    Response endless = Response::generated(qint64(1) << 40, kSeed, kMagic);
    endless.closeDelimited = true;
    QTest::newRow("endless body") << QList{endless} << qint64(700'000)
                                  << QStringLiteral("The server did not announce the file's size.");
    // a few bytes per attempt is no progress: the backoff still runs
    Response drips = wholeFile();
    drips.stallAfterBytes = 1000;
    QTest::newRow("drips then stalls") << QList{drips} << qint64(700'000) << QStringLiteral("The request timed out.");
}

void tst_ModelDownloadService::failuresFollowTheBackoffScheduleThenGiveUp()
{
    QFETCH(QList<Response>, replies);
    QFETCH(qint64, partialBytes);
    QFETCH(QString, error);

    Download d;
    if (error.isEmpty())
        d.model.downloadURL = LoopbackHttpServer::refusingUrl(kPath);
    else
        d.server.setHandler([&](const LoopbackHttpServer::Request &request) {
            return request.header("Range").isEmpty() ? replies.last() : replies.first();
        });
    if (partialBytes > 0)
        QVERIFY(NpzWriter::write(d.partial(), payload(0, partialBytes)));
    if (error == TransferError::timedOut().description())
        d.giveUpOnStalls();

    QFuture<void> future = d.service.download(d.model, &d.manager);
    const QString description = Download::finish(future);
    if (error.isEmpty()) {
        const auto transferError = failureOf<TransferError>(future);
        QVERIFY(transferError);
        QCOMPARE(transferError->code(), QNetworkReply::ConnectionRefusedError);
    } else {
        QCOMPARE(description, error);
    }
    // a resume thrown away is retried from the start at once, uncounted
    QCOMPARE(d.attempts(), 10 * qMax(replies.size(), 1));
    QCOMPARE(d.waits, kFullBackoff);
    QStringList retries;
    for (int i = 0; i < kFullBackoff.size(); ++i)
        retries.append(QStringLiteral("Retry %1/10 in %2s...").arg(i + 1).arg(kFullBackoff[i]));
    QCOMPARE(d.statuses.filter(QStringLiteral("Retry ")), retries);
    QVERIFY(d.isIdle());
    // the next launch may fare better: only the log says why
    QCOMPARE(d.manager.downloadFailureText(), QString());
    QVERIFY(!QFileInfo::exists(d.destination()));
    // kept as it was, or only longer by bytes of the real file
    const QByteArray kept = readFile(d.partial());
    QVERIFY(partialBytes > 0 ? kept.size() >= partialBytes && kept == payload(0, kept.size())
                             : !QFileInfo::exists(d.partial()));
}

void tst_ModelDownloadService::permanentErrorsAreNotRetried()
{
    {
        Download d;
        d.model.downloadURL = QUrl(QStringLiteral("ftp://127.0.0.1/ggml-base.bin"));
        QVERIFY(!d.run().isEmpty());
        QVERIFY(d.waits.isEmpty());
        QVERIFY(d.isIdle());
    }
    {
        // the service going away mid-transfer cancels, and says so
        Download d;
        Response slow = wholeFile();
        slow.stallAfterBytes = 100'000;
        d.server.setResponse(kPath, slow);
        auto *service = new ModelDownloadService;
        QFuture<void> future = service->download(d.model, &d.manager);
        QTRY_VERIFY(d.manager.downloadProgress() > 0);
        delete service;
        QCOMPARE(Download::finish(future), QStringLiteral("cancelled"));
        QVERIFY(d.isIdle());
        QVERIFY(readFile(d.partial()) == payload(0, 100'000));
    }
}

void tst_ModelDownloadService::oneDownloadPerModelAtATime()
{
    {
        Download d;
        Response slow = wholeFile();
        slow.stallAfterBytes = 200'000;
        slow.stallMs = 300;
        d.server.setResponse(kPath, slow);
        d.service.setTimeouts({5s, 20s});

        QFuture<void> first = d.service.download(d.model, &d.manager);
        // the same object, and another one for the same file, both refuse
        QCOMPARE(Download::finish(d.service.download(d.model, &d.manager)),
                 QStringLiteral("A download is already in progress."));
        ModelDownloadService other;
        const auto refused = failureOf<ModelDownloadError>(other.download(d.model, &d.manager));
        QVERIFY2(refused, "a second writer was let in");
        QCOMPARE(refused->kind(), ModelDownloadError::Kind::alreadyDownloading);
        QVERIFY(d.manager.isDownloading());

        QCOMPARE(Download::finish(first), QString());
        QVERIFY(readFile(d.destination()) == payload());
        QCOMPARE(d.attempts(), 1);

        // once it is over, the model may be fetched again
        QCOMPARE(Download::finish(other.download(d.model, &d.manager)), QString());
    }

    // Another process writing the partial file, whatever let it start: it
    // is named, and nothing is written or fetched. (flock conflicts between
    // two opens of one file within one process too.)
    Download d;
    d.server.setResponse(kPath, wholeFile());
    QVERIFY(NpzWriter::write(d.partial(), payload(0, 100'000)));
    const int holder = ::open(QFile::encodeName(d.partial()).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(holder >= 0 && ::flock(holder, LOCK_EX | LOCK_NB) == 0);
    const QString self = QString::fromLatin1(readFile(QStringLiteral("/proc/self/comm")).trimmed());
    const QString held = QStringLiteral("%1.partial is being written by another download (%2, process %3).")
                             .arg(d.model.id, self)
                             .arg(QCoreApplication::applicationPid());
    QCOMPARE(d.run(), held);
    ::close(holder);
    QCOMPARE(d.server.requestCount(), 0);
    QVERIFY(readFile(d.partial()) == payload(0, 100'000));
    QVERIFY(d.isIdle());
    // shown where downloads are, until the next try
    QCOMPARE(d.manager.downloadFailureText(), d.model.id + QStringLiteral(": ") + held);
    QCOMPARE(d.run(), QString());
    QVERIFY(readFile(d.destination()) == payload());
    QCOMPARE(d.manager.downloadFailureText(), QString());
}

void tst_ModelDownloadService::installReplacesTheOldFileAtomically()
{
    {
        Download d;
        QVERIFY(NpzWriter::write(d.destination(), QByteArray(2'000'000, 'o')));
        d.server.setResponse(kPath, wholeFile());
        QCOMPARE(d.run(), QString());
        QVERIFY(readFile(d.destination()) == payload());
    }
    {
        // a destination that cannot be replaced stays as it was, and so
        // does the finished partial file
        Download d;
        QVERIFY(QDir(d.directory()).mkpath(d.model.id + QStringLiteral("/keep")));
        d.server.setResponse(kPath, wholeFile());
        QCOMPARE(d.run(), QStringLiteral("Could not move downloaded file to models directory."));
        QVERIFY(QFileInfo(d.destination() + QStringLiteral("/keep")).isDir());
        QVERIFY(readFile(d.partial()) == payload());
        QVERIFY(d.isIdle());
    }
}

void tst_ModelDownloadService::fullDiskFailsAtOnceAndKeepsThePartialFile()
{
    // more than the disk holds: refused before a byte is written
    if (Download d(qint64(1) << 50); FreeSpace::system().figuresAt(d.directory())) {
        d.server.setResponse(kPath, Response::generated(qint64(1) << 50, kSeed, kMagic));
        const QString error = d.run();
        // both figures, and the margin left for other programs
        QVERIFY2(QRegularExpression(QStringLiteral("^Not enough free space: the download needs 1.13 PB and only "
                                                   ".+ is free, while .+ is kept free for other programs\\.$"))
                     .match(error)
                     .hasMatch(),
                 qPrintable(error));
        QCOMPARE(d.attempts(), 1);
        QVERIFY(!QFileInfo::exists(d.partial()));
        QVERIFY(d.isIdle());
    }
    {
        // a disk that fills up part-way through a chunk still says why
        Download d;
        QVERIFY(NpzWriter::write(d.partial(), payload(0, 700'000)));
        d.server.setResponse(kPath, wholeFile());
        QString error;
        {
            const FileSizeLimit limit(1'234'567);
            error = d.run();
        }
        QCOMPARE(error, QStringLiteral("Could not save the downloaded data: %1.").arg(strerror(EFBIG)));
        // the next launch would meet it again: kept where downloads are shown
        QCOMPARE(d.manager.downloadFailureText(), d.model.id + QStringLiteral(": ") + error);
        QVERIFY(d.waits.isEmpty());
        QVERIFY(readFile(d.partial()) == payload(0, 1'234'567));
    }
    Download d;
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), d.partial()));
    d.server.setResponse(kPath, wholeFile());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Cannot call seek on a sequential device")));
    const QString error = d.run();
    QVERIFY2(error.startsWith(QStringLiteral("Could not save the downloaded data: ")), qPrintable(error));
    QVERIFY(error.contains(QStringLiteral("space")));
    QCOMPARE(d.attempts(), 1);
    QVERIFY(d.waits.isEmpty());
    QVERIFY(QFileInfo(d.partial()).isSymLink());
    QVERIFY(d.isIdle());
}

void tst_ModelDownloadService::whisperModelsAreCheckedBeforeTheyAreInstalled_data()
{
    QTest::addColumn<WhisperModelShape>("shape");
    QTest::addColumn<QString>("error"); // empty: installed
    // the smallest published width, one layer each, quantised: some 18 MB
    const WhisperModelShape published{.state = 384, .heads = 6, .textContext = 448,
                                      .weights = WhisperModelShape::Weights::q5_0};
    QTest::newRow("a published shape") << published << QString();
    // right size and signature, and every dictation would end the process
    WhisperModelShape shortText = published;
    shortText.textContext = 2;
    QTest::newRow("text context of 2")
        << shortText << QStringLiteral("Not a Whisper model: a text context of 2 where Whisper models have 448.");
}

void tst_ModelDownloadService::whisperModelsAreCheckedBeforeTheyAreInstalled()
{
    QFETCH(WhisperModelShape, shape);
    QFETCH(QString, error);
    QTemporaryDir served;
    const QString source = served.filePath(QStringLiteral("model.bin"));
    QCOMPARE(WhisperModelWriter::writeModel(source, shape, 1), QString());
    const QByteArray body = readFile(source);

    Download d(body.size());
    d.model = ModelDescriptor::whisperBase();
    d.model.downloadURL = d.server.url(QStringLiteral("/ggml-base.bin"));
    d.model.expectedBytes = body.size();
    d.server.setResponse(QStringLiteral("/ggml-base.bin"), Response::withBody(body));
    QCOMPARE(d.run(), error);
    QVERIFY(d.isIdle());
    if (error.isEmpty()) {
        QVERIFY(readFile(d.destination()) == body);
        QCOMPARE(d.manager.installedModelIDs(), QSet<QString>{d.model.id});
        return;
    }
    // a failed download: not retried (the same file would come), nothing kept
    QCOMPARE(d.attempts(), 1);
    QVERIFY(d.waits.isEmpty());
    QVERIFY(!d.statuses.contains(QStringLiteral("Complete!")));
    QVERIFY(!QFileInfo::exists(d.destination()));
    QVERIFY(!QFileInfo::exists(d.partial()));
    QVERIFY(d.manager.installedModelIDs().isEmpty());
    // and no encoder is fetched for it
    const QUrl encoder = d.server.url(QStringLiteral("/encoder.zip"));
    CoreMLEncoderDownloader encoders(d.manager, {{d.model.id, QStringLiteral("ggml-base-encoder.mlmodelc"), encoder}});
    QVERIFY(waitForFuture(encoders.downloadMissingEncoders(), 10'000));
    for (const LoopbackHttpServer::Request &request : d.server.requests())
        QVERIFY(request.path() != encoder.path());
}

QTEST_GUILESS_MAIN(tst_ModelDownloadService)
#include "tst_ModelDownloadService.moc"
