#include "models/ModelDescriptor.h"

#include <QtTest>

class tst_ModelDescriptor : public QObject {
    Q_OBJECT
private slots:
    void catalogueIsOrderedAndConsistent();
    void jsonRoundTripUsesFieldNames();
    void decodingRejectsMalformedObjects_data();
    void decodingRejectsMalformedObjects();
};

void tst_ModelDescriptor::catalogueIsOrderedAndConsistent()
{
    const QList<ModelDescriptor> &all = ModelDescriptor::all();
    QCOMPARE(all.size(), 4);
    QCOMPARE(all[0], ModelDescriptor::whisperBase());
    QCOMPARE(all[1], ModelDescriptor::whisperLargeV3());
    QCOMPARE(all[2], ModelDescriptor::qwenRewrite());
    QCOMPARE(all[3], ModelDescriptor::kokoroTTS());

    QSet<QString> ids;
    for (const ModelDescriptor &model : all) {
        ids.insert(model.id);
        // the downloaded file is saved under the id
        QCOMPARE(model.downloadURL.fileName(), model.id);
        QCOMPARE(model.downloadURL.scheme(), QStringLiteral("https"));
        QCOMPARE(model.licenseURL.scheme(), QStringLiteral("https"));
        QVERIFY(model.downloadURL.path().endsWith(QStringLiteral("/resolve/main/") + model.id));
        QVERIFY(model.licenseURL.path().endsWith(QStringLiteral("/blob/main/LICENSE")));
        QVERIFY(model.checksumSHA256.isEmpty());
        QVERIFY(model.expectedBytes > 1'000'000);
    }
    QCOMPARE(ids.size(), 4);
    QCOMPARE(ModelDescriptor::whisperLargeV3().id, QStringLiteral("ggml-large-v3-q5_0.bin"));
    QCOMPARE(ModelDescriptor::qwenRewrite().task, ModelTask::rewrite);
    QCOMPARE(ModelDescriptor::kokoroTTS().task, ModelTask::textToSpeech);
}

void tst_ModelDescriptor::jsonRoundTripUsesFieldNames()
{
    const ModelDescriptor &base = ModelDescriptor::whisperBase();
    const QJsonObject json = base.toJson();
    QCOMPARE(json.keys().size(), 9);
    for (const char *key : {"id", "task", "name", "version", "downloadURL", "checksumSHA256", "expectedBytes",
                            "licenseName", "licenseURL"})
        QVERIFY2(json.contains(QLatin1String(key)), key);
    QCOMPARE(json.value(QStringLiteral("task")).toString(), QStringLiteral("speechToText"));
    QCOMPARE(json.value(QStringLiteral("downloadURL")).toString(), base.downloadURL.toString());
    QCOMPARE(json.value(QStringLiteral("expectedBytes")).toInteger(), 148000000);

    // through text, as a stored copy would go
    const QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(json).toJson()).object();
    const auto decoded = ModelDescriptor::fromJson(reread);
    QVERIFY(decoded.has_value());
    QCOMPARE(*decoded, base);
    QCOMPARE(ModelDescriptor::fromJson(ModelDescriptor::qwenRewrite().toJson()), ModelDescriptor::qwenRewrite());
}

void tst_ModelDescriptor::decodingRejectsMalformedObjects_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QJsonValue>("value");
    QTest::newRow("unknown task") << "task" << QJsonValue(QStringLiteral("summarize"));
    QTest::newRow("task in another case") << "task" << QJsonValue(QStringLiteral("SpeechToText"));
    QTest::newRow("missing id") << "id" << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("size as text") << "expectedBytes" << QJsonValue(QStringLiteral("148000000"));
    QTest::newRow("fractional size") << "expectedBytes" << QJsonValue(1.5);
    QTest::newRow("relative url") << "downloadURL" << QJsonValue(QStringLiteral("ggml-base.bin"));
    QTest::newRow("url as number") << "licenseURL" << QJsonValue(3);
}

void tst_ModelDescriptor::decodingRejectsMalformedObjects()
{
    QFETCH(QString, key);
    QFETCH(QJsonValue, value);
    QJsonObject json = ModelDescriptor::whisperBase().toJson();
    if (value.isUndefined())
        json.remove(key);
    else
        json.insert(key, value);
    QVERIFY(!ModelDescriptor::fromJson(json).has_value());
}

QTEST_GUILESS_MAIN(tst_ModelDescriptor)
#include "tst_ModelDescriptor.moc"
