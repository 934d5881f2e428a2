#include "models/ModelDescriptor.h"

#include <QtTest>

class tst_ModelDescriptor : public QObject {
    Q_OBJECT
private slots:
    void downloadsAreSavedUnderTheirIds();
    void jsonSurvivesARoundTripThroughText();
    void decodingRejectsMalformedObjects_data();
    void decodingRejectsMalformedObjects();
};

void tst_ModelDescriptor::downloadsAreSavedUnderTheirIds()
{
    QSet<QString> ids;
    for (const ModelDescriptor &model : ModelDescriptor::all()) {
        ids.insert(model.id);
        QCOMPARE(model.downloadURL.fileName(), model.id);
        QCOMPARE(model.downloadURL.scheme(), QStringLiteral("https"));
        QVERIFY(model.expectedBytes > 1'000'000); // or the size rule would reject it
    }
    QCOMPARE(ids.size(), ModelDescriptor::all().size());
}

void tst_ModelDescriptor::jsonSurvivesARoundTripThroughText()
{
    const QJsonObject json = ModelDescriptor::whisperBase().toJson();
    QCOMPARE(json.value(QStringLiteral("task")).toString(), QStringLiteral("speechToText")); // as stored files have it
    const QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(json).toJson()).object();
    QCOMPARE(ModelDescriptor::fromJson(reread), ModelDescriptor::whisperBase());
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
    QTest::newRow("size of 2^63") << "expectedBytes" << QJsonValue(9223372036854775808.0);
    QTest::newRow("size below -2^63") << "expectedBytes" << QJsonValue(-1e19);
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
