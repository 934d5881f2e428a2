#include "models/CoreMLEncoderDownloader.h"
#include "models/CoreMLEncoderError.h"
#include "models/ModelManager.h"

#include "platform/fake/FakePlatform.h"
#include "support/FakeFreeSpace.h"
#include "support/FileSizeLimit.h"
#include "support/FutureWait.h"
#include "support/FutureWatch.h"
#include "support/LoopbackHttpServer.h"
#include "support/NpzWriter.h"
#include "support/WhisperModelWriter.h"

#include <QtTest>

using Response = LoopbackHttpServer::Response;
using Disk = FreeSpace::Figures;
using Limits = CoreMLEncoderDownloader::Limits;
using MaybeDisk = std::optional<Disk>; // none: the system cannot tell
Q_DECLARE_METATYPE(Disk)
Q_DECLARE_METATYPE(Limits)
Q_DECLARE_METATYPE(MaybeDisk)

namespace {

const QString kBaseEncoder = QStringLiteral("ggml-base-encoder.mlmodelc");

NpzWriter::Entry file(const QString &name, const QByteArray &data, quint32 mode = 0100644)
{
    return {name, data, false, mode};
}

QList<NpzWriter::Entry> goodEncoder()
{
    return {file(QStringLiteral("ggml-base-encoder.mlmodelc/"), {}, 040755),
            file(QStringLiteral("ggml-base-encoder.mlmodelc/model.mil"), "program"),
            file(QStringLiteral("ggml-base-encoder.mlmodelc/weights/"), {}, 040755),
            file(QStringLiteral("ggml-base-encoder.mlmodelc/weights/weight.bin"),
                 LoopbackHttpServer::seededBytes(5, 0, 200'000))};
}

// 100 MB with 4 KB blocks: 5 MB of it and 50 inodes are kept free
Disk smallDisk(qint64 availableBytes, qint64 availableInodes = 500)
{
    return {availableBytes, 100'000'000, 4096, availableInodes, 1000};
}

QStringList entriesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class tst_CoreMLEncoderDownloader : public QObject {
    Q_OBJECT
private slots:
    void init();
    void fetchesMissingEncodersOnceAndContinuesPastFailures();
    void doesNothingWithoutTheContainer();
    void goingAwayMidDownloadLeavesNothing_data();
    void goingAwayMidDownloadLeavesNothing();
    void brokenOrHostileArchivesLeaveNothing_data();
    void brokenOrHostileArchivesLeaveNothing();
    void archivesAtTheCapsAreCountedExactly_data();
    void archivesAtTheCapsAreCountedExactly();
    void lastingFailuresAreShownWhereDownloadsAre();

private:
    QString modelsDirectory() const
    {
        return *m_platform->paths().appGroupContainer() + QStringLiteral("/OfflineModels");
    }
    // Runs the fetch to its end; the error as "domain code description", or empty.
    static QString finish(QFuture<void> future)
    {
        if (!waitForFuture(future, 30'000))
            return QStringLiteral("<still running>");
        if (const auto error = failureOf<CoreMLEncoderError>(future))
            return QStringLiteral("%1 %2 %3").arg(CoreMLEncoderError::domain()).arg(error->code()).arg(error->description());
        const auto other = Futures::failureOf(future);
        return other ? describeException(other) : QString();
    }

    FakePlatform *m_platform = nullptr;
    std::unique_ptr<ModelManager> m_manager;
    LoopbackHttpServer m_server;
};

void tst_CoreMLEncoderDownloader::init()
{
    m_platform = &FakePlatform::installNew();
    m_manager = std::make_unique<ModelManager>(m_platform->paths(), WhisperModelShape::tinyFamily());
    QDir().mkpath(modelsDirectory());
    m_server.clearRequests();
}

void tst_CoreMLEncoderDownloader::fetchesMissingEncodersOnceAndContinuesPastFailures()
{
    const QDir dir(modelsDirectory());
    QCOMPARE(WhisperModelWriter::writeTinyModel(dir.filePath(QStringLiteral("ggml-base.bin"))), QString());
    QCOMPARE(WhisperModelWriter::writeTinyModel(dir.filePath(QStringLiteral("ggml-large-v3-q5_0.bin"))), QString());
    // a file that is no model is not installed, and gets no encoder
    QVERIFY(NpzWriter::write(dir.filePath(QStringLiteral("ggml-medium.bin")), "model"));
    // what a run killed while unpacking leaves behind
    QVERIFY(dir.mkpath(QStringLiteral(".ggml-base-encoder.mlmodelc-staging-Ab12Cd/ggml-base-encoder.mlmodelc")));
    m_server.setResponse(QStringLiteral("/base.zip"), Response::withBody(NpzWriter::zip(goodEncoder())));
    CoreMLEncoderDownloader downloader(*m_manager, {
        {QStringLiteral("ggml-medium.bin"), QStringLiteral("ggml-medium-encoder.mlmodelc"),
         m_server.url(QStringLiteral("/medium.zip"))},
        {QStringLiteral("ggml-large-v3-q5_0.bin"), QStringLiteral("ggml-large-v3-encoder.mlmodelc"),
         m_server.url(QStringLiteral("/missing.zip"))},
        {QStringLiteral("ggml-base.bin"), kBaseEncoder, m_server.url(QStringLiteral("/base.zip"))},
    });
    QStringList seen;
    connect(&downloader, &CoreMLEncoderDownloader::activeModelChanged,
            [&] { seen.append(downloader.activeModel() + QLatin1Char('/') + QString::number(downloader.isDownloading())); });
    QCOMPARE(finish(downloader.downloadMissingEncoders()), QString());
    QCOMPARE(seen, (QStringList{"ggml-large-v3-q5_0.bin/1", "ggml-base.bin/1", "/0"}));
    for (const auto &request : m_server.requests())
        QVERIFY(request.path() != QLatin1String("/medium.zip"));

    const QString encoder = dir.filePath(kBaseEncoder);
    QCOMPARE(entriesIn(encoder), (QStringList{"model.mil", "weights"}));
    QFile weights(encoder + QStringLiteral("/weights/weight.bin"));
    QVERIFY(weights.open(QIODevice::ReadOnly));
    QVERIFY(weights.readAll() == LoopbackHttpServer::seededBytes(5, 0, 200'000));
    // no archive or staging directory is left behind
    QCOMPARE(entriesIn(dir.path()), (QStringList{kBaseEncoder, "ggml-base.bin", "ggml-large-v3-q5_0.bin", "ggml-medium.bin"}));

    // the next launch only retries what is still missing
    m_server.clearRequests();
    QCOMPARE(finish(downloader.downloadMissingEncoders()), QString());
    // (the network stack may send a request again on its own)
    QVERIFY(m_server.requestCount() >= 1);
    for (const auto &request : m_server.requests())
        QCOMPARE(request.path(), QStringLiteral("/missing.zip"));
}

void tst_CoreMLEncoderDownloader::doesNothingWithoutTheContainer()
{
    QVERIFY(NpzWriter::write(QDir(modelsDirectory()).filePath(QStringLiteral("ggml-base.bin")), "model"));
    m_platform->fakePaths().setContainerAvailable(false);
    CoreMLEncoderDownloader downloader(*m_manager, {{QStringLiteral("ggml-base.bin"), kBaseEncoder, m_server.url()}});
    QSignalSpy changes(&downloader, &CoreMLEncoderDownloader::isDownloadingChanged);
    QCOMPARE(finish(downloader.downloadMissingEncoders()), QString());
    QCOMPARE(m_server.requestCount(), 0);
    QCOMPARE(changes.size(), 0);
}

void tst_CoreMLEncoderDownloader::goingAwayMidDownloadLeavesNothing_data()
{
    QTest::addColumn<bool>("refused");
    // what quitting Tavrune while its launch fetches an encoder does
    QTest::newRow("archive under way") << false;
    QTest::newRow("connection refused") << true;
}

void tst_CoreMLEncoderDownloader::goingAwayMidDownloadLeavesNothing()
{
    QFETCH(bool, refused);
    const QDir dir(modelsDirectory());
    QCOMPARE(WhisperModelWriter::writeTinyModel(dir.filePath(QStringLiteral("ggml-base.bin"))), QString());
    Response slow = Response::generated(400'000, 7, "PK\x03\x04");
    slow.stallAfterBytes = 100'000;
    m_server.setResponse(QStringLiteral("/base.zip"), slow);
    const QUrl url = refused ? LoopbackHttpServer::refusingUrl(QStringLiteral("/base.zip"))
                             : m_server.url(QStringLiteral("/base.zip"));
    auto downloader = std::make_unique<CoreMLEncoderDownloader>(
        *m_manager, QList<CoreMLEncoderDownloader::Encoder>{{QStringLiteral("ggml-base.bin"), kBaseEncoder, url}});
    QFuture<void> fetch = downloader->downloadMissingEncoders();
    if (!refused) {
        // the body flows until the server stalls it (the archive's bytes go
        // to an unnamed file until the download ends)
        QTRY_VERIFY(m_server.requestCount() > 0);
        QTest::qWait(100);
    }
    downloader.reset();
    QVERIFY(waitForFuture(fetch, 5'000));
    QCoreApplication::processEvents();
    QCOMPARE(entriesIn(dir.path()), QStringList{QStringLiteral("ggml-base.bin")});
}

void tst_CoreMLEncoderDownloader::brokenOrHostileArchivesLeaveNothing_data()
{
    QTest::addColumn<Response>("reply");
    QTest::addColumn<Disk>("disk");
    QTest::addColumn<qint64>("fileSizeLimit"); // 0: none
    QTest::addColumn<QString>("error");
    const QString httpError = QStringLiteral("CoreMLEncoder -1 HTTP error");
    const QString unzipFailed = QStringLiteral("CoreMLEncoder -2 Unzip failed");
    const Disk roomy = smallDisk(50'000'000);
    const auto archive = [](const QList<NpzWriter::Entry> &entries) { return Response::withBody(NpzWriter::zip(entries)); };
    const auto withExtra = [&](const QString &name, const QByteArray &data, quint32 mode = 0100644) {
        return archive(goodEncoder() << file(name, data, mode));
    };
    // what the headers say about the last `count` entries: local headers, then central directory
    const auto patchLastEntries = [](Response reply, int localOffset, int centralOffset, quint32 value, bool wide,
                                     int count = 1) {
        for (const auto &[signature, offset] : {std::pair{"PK\x03\x04", localOffset}, std::pair{"PK\x01\x02", centralOffset}}) {
            qsizetype from = -1;
            for (int i = 0; i < count; ++i) {
                from = reply.body.lastIndexOf(signature, from);
                char *at = reply.body.data() + from + offset;
                wide ? qToLittleEndian<quint32>(value, at) : qToLittleEndian<quint16>(quint16(value), at);
                --from;
            }
        }
        return reply;
    };
    const auto files = [](int count, qint64 size, bool inFolders = false) {
        QList<NpzWriter::Entry> entries = goodEncoder();
        for (int i = 0; i < count; ++i) {
            const QString name = inFolders ? QStringLiteral("ggml-base-encoder.mlmodelc/d%1/f").arg(i)
                                            : QStringLiteral("ggml-base-encoder.mlmodelc/f%1").arg(i);
            entries.append({name, QByteArray(size, 'a'), true, 0100644});
        }
        return entries;
    };

    QTest::newRow("not found") << Response::withBody("Not Found", 404) << roomy << qint64(0) << httpError;
    QTest::newRow("not a zip") << Response::withBody(QByteArray(5000, 'x')) << roomy << qint64(0)
                               << QStringLiteral("The server sent 5 KB of text where a zip archive was expected.");
    // an endless body would fill the disk: its size must be announced and bounded
    Response endless = Response::generated(qint64(1) << 40, 3, "PK\x03\x04");
    endless.closeDelimited = true;
    QTest::newRow("endless body") << endless << roomy << qint64(0)
                                  << QStringLiteral("The server did not announce the file's size.");
    QTest::newRow("archive beyond the limit") << Response::generated(2'000'000, 3, "PK\x03\x04") << roomy << qint64(0)
                                              << QStringLiteral("The server offered 2 MB, more than the 1 MB allowed for a zip archive.");
    QTest::newRow("loose file beside") << withExtra(QStringLiteral("README"), "x") << roomy << qint64(0) << unzipFailed;
    QTest::newRow("parent traversal")
        << withExtra(QStringLiteral("ggml-base-encoder.mlmodelc/../../../escaped.txt"), "x") << roomy << qint64(0)
        << unzipFailed;
    QTest::newRow("symlink") << withExtra(QStringLiteral("ggml-base-encoder.mlmodelc/weights/link"), "/etc", 0120777)
                             << roomy << qint64(0) << unzipFailed;
    // nothing may ask for a password
    QTest::newRow("encrypted entry") << patchLastEntries(archive(goodEncoder()), 6, 8, 1, false) << roomy << qint64(0)
                                     << unzipFailed;
    // an entry whose headers claim 4 GB is refused before unpacking
    QTest::newRow("zip bomb") << patchLastEntries(archive(goodEncoder()), 22, 24, 0xF0000000, true) << roomy << qint64(0)
                              << QStringLiteral("The encoder archive would unpack to 4.03 GB on disk, more than the 1 MB allowed.");
    // ...and one whose headers claim 1,000 bytes is stopped by counting what it writes
    const auto zeros = [](qint64 size) {
        return NpzWriter::Entry{QStringLiteral("ggml-base-encoder.mlmodelc/weights/zeros.bin"), QByteArray(size, 0),
                                true, 0100644};
    };
    QTest::newRow("zip bomb with lying headers")
        << patchLastEntries(archive(goodEncoder() << zeros(3'000'000)), 22, 24, 1000, true) << roomy << qint64(0)
        << QStringLiteral("The encoder archive unpacks to more than the 1 MB allowed.");
    QTest::newRow("disk full while unpacking")
        << archive({file(QStringLiteral("ggml-base-encoder.mlmodelc/"), {}, 040755), zeros(300'000)}) << roomy
        << qint64(100'001) << QStringLiteral("Could not unpack the encoder: %1").arg(strerror(EFBIG));

    // Each file and folder takes an inode and at least a block, whatever its
    // content: 100,000 one-byte files took 400 MB. This test allows 100.
    QTest::newRow("more files than an encoder holds")
        << archive(files(97, 1)) << roomy << qint64(0)
        << QStringLiteral("The encoder archive holds 101 files and folders, more than the 100 an encoder may have.");
    QTest::newRow("folders count too")
        << archive(files(50, 1, true)) << roomy << qint64(0)
        << QStringLiteral("The encoder archive holds 104 files and folders, more than the 100 an encoder may have.");
    // Some 200 KB of content, 582 KB on disk, and the archive beside it. The
    // figures are those the disk shows once the archive is gone.
    const QString noRoomForFiles = QStringLiteral("Not enough free space: the encoder with its archive needs 799 KB and "
                                                  "only 5.7 MB is free, while 5 MB is kept free for other programs.");
    QTest::newRow("one-byte files take a block each")
        << archive(files(90, 1)) << smallDisk(5'500'000) << qint64(0) << noRoomForFiles;
    QTest::newRow("empty files take a block each too")
        << archive(files(90, 0)) << smallDisk(5'500'000) << qint64(0) << noRoomForFiles;
    // 8,193-byte files that claim one byte: 937 KB of content, 1.32 MB on disk
    QTest::newRow("small files with lying headers")
        << patchLastEntries(archive(files(90, 8193)), 22, 24, 1, true, 90) << roomy << qint64(0)
        << QStringLiteral("The encoder archive unpacks to more than the 1 MB allowed.");
    // Refused on its announced size, before it is fetched only to be thrown
    // away: this body is no zip, and unpacking would have said so.
    QTest::newRow("room for the archive but not for what it unpacks to")
        << Response::generated(900'000, 3, "PK\x03\x04") << smallDisk(6'000'000) << qint64(0)
        << QStringLiteral("Not enough free space: the encoder with its archive needs at least 1.8 MB and only 6 MB is "
                          "free, while 5 MB is kept free for other programs.");
    QTest::newRow("the margin is kept free")
        << archive(goodEncoder()) << smallDisk(5'100'000) << qint64(0)
        << QStringLiteral("Not enough free space: the encoder with its archive needs at least 401 KB and only 5.1 MB is "
                          "free, while 5 MB is kept free for other programs.");
    QTest::newRow("no inodes left")
        << archive(goodEncoder()) << smallDisk(50'000'000, 53) << qint64(0)
        << QStringLiteral("Not enough free space: the encoder needs 4 files and folders and only 53 more can be made, "
                          "while 50 are kept free for other programs.");
}

void tst_CoreMLEncoderDownloader::brokenOrHostileArchivesLeaveNothing()
{
    QFETCH(Response, reply);
    QFETCH(Disk, disk);
    QFETCH(qint64, fileSizeLimit);
    QFETCH(QString, error);

    const QString container = *m_platform->paths().appGroupContainer();
    m_server.setResponse(QStringLiteral("/encoder.zip"), reply);
    const FakeFreeSpace freeSpace(disk);
    CoreMLEncoderDownloader downloader(*m_manager, QList<CoreMLEncoderDownloader::Encoder>{}, freeSpace);
    downloader.setLimits({1'000'000, 1'000'000, 100});
    QString outcome;
    {
        std::optional<FileSizeLimit> limit;
        if (fileSizeLimit > 0)
            limit.emplace(fileSizeLimit);
        outcome = finish(downloader.downloadAndInstall(m_server.url(QStringLiteral("/encoder.zip")), modelsDirectory(),
                                                       kBaseEncoder));
    }
    QCOMPARE(outcome, error);
    QCOMPARE(entriesIn(modelsDirectory()), QStringList());
    QCOMPARE(entriesIn(container), QStringList{QStringLiteral("OfflineModels")});
}

void tst_CoreMLEncoderDownloader::archivesAtTheCapsAreCountedExactly_data()
{
    QTest::addColumn<Response>("reply");
    QTest::addColumn<Limits>("limits");
    QTest::addColumn<MaybeDisk>("disk");
    QTest::addColumn<QString>("error"); // empty: installed
    const auto emptyFiles = [](int count) {
        QList<NpzWriter::Entry> entries{file(kBaseEncoder + QLatin1Char('/'), {}, 040755)};
        for (int i = 0; i < count; ++i)
            entries.append(file(QStringLiteral("%1/f%2").arg(kBaseEncoder).arg(i), {}));
        return Response::withBody(NpzWriter::zip(entries));
    };
    // The Large encoder's weights span a thousand unpacking chunks: charged
    // its running total at each, it would pass 3 GB long before its end.
    const QByteArray zeros(3'500'000, 0);
    QTest::newRow("a file over several unpacking chunks counts once")
        << Response::withBody(NpzWriter::zip({file(kBaseEncoder + QLatin1Char('/'), {}, 040755),
                                              {kBaseEncoder + QStringLiteral("/weights.bin"), zeros, true, 0100644}}))
        << Limits{1'000'000, 4'000'000, 100} << MaybeDisk() << QString();
    // Past the count, the room they take on a small disk refuses them before
    // a file is written (thousands cost seconds): the count let them through.
    const MaybeDisk small = smallDisk(20'000'000, 100'000);
    QTest::newRow("as many files and folders as the default allows")
        << emptyFiles(4095) << Limits{} << small
        << QStringLiteral("Not enough free space: the encoder with its archive needs 17.4 MB and only 20.6 MB is free, "
                          "while 5 MB is kept free for other programs.");
    QTest::newRow("one more than the default allows")
        << emptyFiles(4096) << Limits{} << small
        << QStringLiteral("The encoder archive holds 4097 files and folders, more than the 4096 an encoder may have.");
}

void tst_CoreMLEncoderDownloader::archivesAtTheCapsAreCountedExactly()
{
    QFETCH(Response, reply);
    QFETCH(Limits, limits);
    QFETCH(MaybeDisk, disk);
    QFETCH(QString, error);

    m_server.setResponse(QStringLiteral("/encoder.zip"), reply);
    const FakeFreeSpace freeSpace(disk);
    CoreMLEncoderDownloader downloader(*m_manager, QList<CoreMLEncoderDownloader::Encoder>{}, freeSpace);
    downloader.setLimits(limits);
    QCOMPARE(finish(downloader.downloadAndInstall(m_server.url(QStringLiteral("/encoder.zip")), modelsDirectory(),
                                                  kBaseEncoder)),
             error);
    QCOMPARE(entriesIn(modelsDirectory()), error.isEmpty() ? QStringList{kBaseEncoder} : QStringList());
}

void tst_CoreMLEncoderDownloader::lastingFailuresAreShownWhereDownloadsAre()
{
    const QDir dir(modelsDirectory());
    QCOMPARE(WhisperModelWriter::writeTinyModel(dir.filePath(QStringLiteral("ggml-base.bin"))), QString());
    QCOMPARE(WhisperModelWriter::writeTinyModel(dir.filePath(QStringLiteral("ggml-large-v3-q5_0.bin"))), QString());
    QCOMPARE(WhisperModelWriter::writeTinyModel(dir.filePath(QStringLiteral("ggml-medium.bin"))), QString());
    m_server.setResponse(QStringLiteral("/base.zip"), Response::withBody(NpzWriter::zip(goodEncoder())));
    const QList<CoreMLEncoderDownloader::Encoder> encoders{
        {QStringLiteral("ggml-large-v3-q5_0.bin"), QStringLiteral("ggml-large-v3-encoder.mlmodelc"),
         m_server.url(QStringLiteral("/missing.zip"))},
        {QStringLiteral("ggml-medium.bin"), QStringLiteral("ggml-medium-encoder.mlmodelc"),
         LoopbackHttpServer::refusingUrl(QStringLiteral("/medium.zip"))},
        {QStringLiteral("ggml-base.bin"), kBaseEncoder, m_server.url(QStringLiteral("/base.zip"))},
    };
    const FakeFreeSpace freeSpace(smallDisk(5'100'000));
    CoreMLEncoderDownloader downloader(*m_manager, encoders, freeSpace);
    QCOMPARE(finish(downloader.downloadMissingEncoders()), QString());
    // no room stays no room; a missing file or a server away may be back tomorrow
    QCOMPARE(m_manager->downloadFailureText(),
             kBaseEncoder + QStringLiteral(": Not enough free space: the encoder with its archive needs at least 401 KB "
                                           "and only 5.1 MB is free, while 5 MB is kept free for other programs."));

    // the next try forgets it
    const FakeFreeSpace roomyDisk(smallDisk(50'000'000));
    CoreMLEncoderDownloader roomy(*m_manager, encoders, roomyDisk);
    QCOMPARE(finish(roomy.downloadMissingEncoders()), QString());
    QCOMPARE(m_manager->downloadFailureText(), QString());
    QVERIFY(QFileInfo(dir.filePath(kBaseEncoder)).isDir());
}

QTEST_GUILESS_MAIN(tst_CoreMLEncoderDownloader)
#include "tst_CoreMLEncoderDownloader.moc"
