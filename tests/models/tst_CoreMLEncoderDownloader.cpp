#include "models/CoreMLEncoderDownloader.h"
#include "models/CoreMLEncoderError.h"
#include "models/ModelManager.h"

#include "platform/fake/FakePlatform.h"
#include "support/FutureWait.h"
#include "support/FutureWatch.h"
#include "support/LoopbackHttpServer.h"

#include <QtEndian>
#include <QtTest>

using Response = LoopbackHttpServer::Response;

namespace {

const QString kBaseEncoder = QStringLiteral("ggml-base-encoder.mlmodelc");

// Builds zip archives with stored entries, including the hostile ones no
// zip tool would write.
class ZipBuilder {
public:
    ZipBuilder &file(const QByteArray &name, const QByteArray &data) { return add(name, data, 0100644); }
    ZipBuilder &directory(const QByteArray &name) { return add(name, {}, 040755); }
    ZipBuilder &symlink(const QByteArray &name, const QByteArray &target) { return add(name, target, 0120777); }

    QByteArray archive() const
    {
        QByteArray out = m_local + m_central;
        le(out, quint32(0x06054b50), quint16(0), quint16(0), m_count, m_count, quint32(m_central.size()),
           quint32(m_local.size()), quint16(0));
        return out;
    }

private:
    template <typename... T>
    static void le(QByteArray &out, T... values)
    {
        ((values = qToLittleEndian(values), out.append(reinterpret_cast<const char *>(&values), sizeof values)), ...);
    }

    ZipBuilder &add(const QByteArray &name, const QByteArray &data, quint32 mode)
    {
        quint32 crc = 0xFFFFFFFF;
        for (char byte : data) {
            crc ^= quint8(byte);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
        }
        crc = ~crc;
        const quint32 offset = quint32(m_local.size()), size = quint32(data.size());
        // version 1.0, no flags, stored, a fixed time and date
        const auto common = [&](QByteArray &out) {
            le(out, quint16(10), quint16(0), quint16(0), quint16(0x6000), quint16(0x5a21), crc, size, size,
               quint16(name.size()), quint16(0));
        };
        le(m_local, quint32(0x04034b50));
        common(m_local);
        m_local += name + data;
        le(m_central, quint32(0x02014b50), quint16((3 << 8) | 30)); // made on Unix
        common(m_central);
        le(m_central, quint16(0), quint16(0), quint16(0), quint32((mode << 16) | ((mode & 040000) ? 0x10 : 0)),
           offset);
        m_central += name;
        ++m_count;
        return *this;
    }

    QByteArray m_local;
    QByteArray m_central;
    quint16 m_count = 0;
};

ZipBuilder goodEncoder()
{
    ZipBuilder zip;
    zip.directory("ggml-base-encoder.mlmodelc/")
        .file("ggml-base-encoder.mlmodelc/model.mil", "program")
        .directory("ggml-base-encoder.mlmodelc/weights/")
        .file("ggml-base-encoder.mlmodelc/weights/weight.bin", LoopbackHttpServer::seededBytes(5, 0, 200'000));
    return zip;
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("model") == 5;
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
    void brokenOrHostileArchivesLeaveNothing_data();
    void brokenOrHostileArchivesLeaveNothing();

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
    m_manager = std::make_unique<ModelManager>(m_platform->paths());
    QDir().mkpath(modelsDirectory());
    m_server.clearRequests();
}

void tst_CoreMLEncoderDownloader::fetchesMissingEncodersOnceAndContinuesPastFailures()
{
    const QDir dir(modelsDirectory());
    QVERIFY(touch(dir.filePath(QStringLiteral("ggml-base.bin"))));
    QVERIFY(touch(dir.filePath(QStringLiteral("ggml-large-v3-q5_0.bin"))));
    // what a run killed while unpacking leaves behind
    QVERIFY(dir.mkpath(QStringLiteral(".ggml-base-encoder.mlmodelc-staging-Ab12Cd/ggml-base-encoder.mlmodelc")));
    m_server.setResponse(QStringLiteral("/base.zip"), Response::withBody(goodEncoder().archive()));
    CoreMLEncoderDownloader downloader(*m_manager, {
        {QStringLiteral("ggml-large-v3-q5_0.bin"), QStringLiteral("ggml-large-v3-encoder.mlmodelc"),
         m_server.url(QStringLiteral("/missing.zip"))},
        {QStringLiteral("ggml-base.bin"), kBaseEncoder, m_server.url(QStringLiteral("/base.zip"))},
    });
    QStringList seen;
    connect(&downloader, &CoreMLEncoderDownloader::activeModelChanged,
            [&] { seen.append(downloader.activeModel() + QLatin1Char('/') + QString::number(downloader.isDownloading())); });
    QCOMPARE(finish(downloader.downloadMissingEncoders()), QString());
    QCOMPARE(seen, (QStringList{"ggml-large-v3-q5_0.bin/1", "ggml-base.bin/1", "/0"}));

    const QString encoder = dir.filePath(kBaseEncoder);
    QCOMPARE(entriesIn(encoder), (QStringList{"model.mil", "weights"}));
    QFile weights(encoder + QStringLiteral("/weights/weight.bin"));
    QVERIFY(weights.open(QIODevice::ReadOnly));
    QVERIFY(weights.readAll() == LoopbackHttpServer::seededBytes(5, 0, 200'000));
    // no archive or staging directory is left behind
    QCOMPARE(entriesIn(dir.path()), (QStringList{kBaseEncoder, "ggml-base.bin", "ggml-large-v3-q5_0.bin"}));

    // the next launch only retries what is still missing
    m_server.clearRequests();
    QCOMPARE(finish(downloader.downloadMissingEncoders()), QString());
    QCOMPARE(m_server.requestCount(), 1);
    QCOMPARE(m_server.requests().first().path(), QStringLiteral("/missing.zip"));
    QVERIFY(!downloader.isDownloading());
}

void tst_CoreMLEncoderDownloader::doesNothingWithoutTheContainer()
{
    QVERIFY(touch(QDir(modelsDirectory()).filePath(QStringLiteral("ggml-base.bin"))));
    m_platform->fakePaths().setContainerAvailable(false);
    CoreMLEncoderDownloader downloader(*m_manager, {{QStringLiteral("ggml-base.bin"), kBaseEncoder, m_server.url()}});
    QSignalSpy changes(&downloader, &CoreMLEncoderDownloader::isDownloadingChanged);
    QCOMPARE(finish(downloader.downloadMissingEncoders()), QString());
    QCOMPARE(m_server.requestCount(), 0);
    QCOMPARE(changes.size(), 0);
}

void tst_CoreMLEncoderDownloader::brokenOrHostileArchivesLeaveNothing_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    const QString httpError = QStringLiteral("CoreMLEncoder -1 HTTP error");
    const QString unzipFailed = QStringLiteral("CoreMLEncoder -2 Unzip failed");

    QTest::newRow("not found") << 404 << QByteArray("Not Found") << httpError;
    QTest::newRow("not a zip") << 200 << QByteArray(5000, 'x') << unzipFailed;
    QTest::newRow("loose file beside") << 200 << goodEncoder().file("README", "x").archive() << unzipFailed;
    QTest::newRow("parent traversal")
        << 200 << goodEncoder().file("ggml-base-encoder.mlmodelc/../../../escaped.txt", "x").archive() << unzipFailed;
    QTest::newRow("absolute path") << 200 << goodEncoder().file("/tmp/escaped.txt", "x").archive() << unzipFailed;
    QTest::newRow("symlink") << 200
                             << goodEncoder().symlink("ggml-base-encoder.mlmodelc/weights/link", "/etc").archive()
                             << unzipFailed;
}

void tst_CoreMLEncoderDownloader::brokenOrHostileArchivesLeaveNothing()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);

    const QString container = *m_platform->paths().appGroupContainer();
    m_server.setResponse(QStringLiteral("/encoder.zip"), Response::withBody(body, status));
    CoreMLEncoderDownloader downloader(*m_manager, QList<CoreMLEncoderDownloader::Encoder>{});
    QCOMPARE(finish(downloader.downloadAndInstall(m_server.url(QStringLiteral("/encoder.zip")), modelsDirectory(),
                                                  kBaseEncoder)),
             error);
    QCOMPARE(entriesIn(modelsDirectory()), QStringList());
    QCOMPARE(entriesIn(container), QStringList{QStringLiteral("OfflineModels")});
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/escaped.txt")));
    QVERIFY(!QFileInfo::exists(m_platform->paths().applicationSupportDirectory() + QStringLiteral("/escaped.txt")));
}

QTEST_GUILESS_MAIN(tst_CoreMLEncoderDownloader)
#include "tst_CoreMLEncoderDownloader.moc"
