#include "models/ModelManager.h"

#include "platform/fake/FakePlatform.h"
#include "support/LogCapture.h"
#include "support/WhisperModelWriter.h"

#include <QtTest>

class tst_ModelManager : public QObject {
    Q_OBJECT
private slots:
    void init();
    void directoryPrefersTheContainer();
    void refreshAppliesTheSizeRule();
    void speechModelsMustPassTheStructureCheck();
    void unreadableFilesAreMissingButKept();

private:
    static bool writeFile(const QString &path, qint64 size)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.resize(size);
    }
    FakePlatform *m_platform = nullptr;
};

void tst_ModelManager::init()
{
    m_platform = &FakePlatform::installNew();
}

void tst_ModelManager::directoryPrefersTheContainer()
{
    ModelManager manager(m_platform->paths());
    QCOMPARE(manager.modelsDirectory(), *m_platform->paths().appGroupContainer() + QStringLiteral("/OfflineModels"));
    // reading the directory does not create it
    QVERIFY(!QFileInfo::exists(manager.modelsDirectory()));

    m_platform->fakePaths().setContainerAvailable(false);
    QCOMPARE(manager.modelsDirectory(),
             m_platform->paths().applicationSupportDirectory() + QStringLiteral("/OfflineModels"));
}

void tst_ModelManager::refreshAppliesTheSizeRule()
{
    ModelManager manager(m_platform->paths());
    const QDir dir(manager.modelsDirectory());
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("ggml-base.bin")), 999'999));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("qwen2.5-3b-instruct-q4_k_m.gguf")), 1'000'000));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("kokoro-v1_0.safetensors")), 5'000'000));
    // partial downloads are never judged, whatever their size
    QVERIFY(writeFile(dir.filePath(QStringLiteral("qwen2.5-3b-instruct-q4_k_m.gguf.partial")), 10));
    QVERIFY(manager.installedModelIDs().isEmpty()); // nothing read before the first refresh

    QSignalSpy changed(&manager, &ModelManager::installedModelIDsChanged);
    manager.refreshInstalledModels();
    manager.refreshInstalledModels(); // an unchanged set is not announced again
    QCOMPARE(changed.size(), 1);
    QCOMPARE(manager.installedModelIDs(),
             (QSet<QString>{QStringLiteral("qwen2.5-3b-instruct-q4_k_m.gguf"), QStringLiteral("kokoro-v1_0.safetensors")}));
    QVERIFY(!dir.exists(QStringLiteral("ggml-base.bin")));
    QVERIFY(dir.exists(QStringLiteral("qwen2.5-3b-instruct-q4_k_m.gguf.partial")));
}

void tst_ModelManager::speechModelsMustPassTheStructureCheck()
{
    ModelManager manager(m_platform->paths(), WhisperModelShape::tinyFamily());
    const QDir dir(manager.modelsDirectory());
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    QCOMPARE(WhisperModelWriter::writeTinyModel(dir.filePath(QStringLiteral("ggml-base.bin"))), QString());
    const QString large = dir.filePath(QStringLiteral("ggml-large-v3-q5_0.bin"));
    QCOMPARE(WhisperModelWriter::writeDamagedModel(large, WhisperModelWriter::Damage::truncatedMidTensor), QString());
    QVERIFY(QFileInfo(large).size() >= ModelManager::minimumModelBytes);

    LogCapture log;
    manager.refreshInstalledModels();
    QCOMPARE(manager.installedModelIDs(), QSet<QString>{QStringLiteral("ggml-base.bin")});
    QVERIFY(QFile::exists(large)); // the download replaces it
    QCOMPARE(log.linesStartingWith(QStringLiteral("[ModelManager] Rejecting ggml-large-v3-q5_0.bin — truncated in "))
                 .size(),
             1);

    // The application's manager holds the published shapes, which no tiny model has.
    ModelManager published(m_platform->paths());
    log.clear();
    QVERIFY(!published.isInstalled(ModelDescriptor::whisperBase()));
    QVERIFY(log.contains(
        QStringLiteral("Rejecting ggml-base.bin — a text context of 16 where Whisper models have 448")));
}

void tst_ModelManager::unreadableFilesAreMissingButKept()
{
    ModelManager manager(m_platform->paths(), WhisperModelShape::tinyFamily());
    const QDir dir(manager.modelsDirectory());
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    // a model kept on a disk that is not mounted right now
    const QString link = dir.filePath(QStringLiteral("ggml-base.bin"));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent-disk/ggml-base.bin"), link));
    QVERIFY(dir.mkpath(QStringLiteral("ggml-large-v3-q5_0.bin")));

    QVERIFY(!manager.isInstalled(ModelDescriptor::whisperBase()));
    QVERIFY(!manager.isInstalled(ModelDescriptor::whisperLargeV3()));
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(dir.exists(QStringLiteral("ggml-large-v3-q5_0.bin")));

    // a link to a real model counts
    const QString target = m_platform->fakePaths().root() + QStringLiteral("/elsewhere.bin");
    QCOMPARE(WhisperModelWriter::writeTinyModel(target), QString());
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(target, link));
    QVERIFY(manager.isInstalled(ModelDescriptor::whisperBase()));
}

QTEST_GUILESS_MAIN(tst_ModelManager)
#include "tst_ModelManager.moc"
