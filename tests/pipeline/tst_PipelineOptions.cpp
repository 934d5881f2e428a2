#include "pipeline/ASRModelPreference.h"
#include "pipeline/LanguageOption.h"

#include <QtTest>

class tst_PipelineOptions : public QObject {
    Q_OBJECT
private slots:
    void modelPreferenceDecodesOnlyExactNames_data();
    void modelPreferenceDecodesOnlyExactNames();
    void everyCaseRoundTrips();
    void portugueseIsBrazilian();
};

void tst_PipelineOptions::modelPreferenceDecodesOnlyExactNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("exact") << QStringLiteral("parallelFast") << true;
    QTest::newRow("keyword case") << QStringLiteral("auto") << true;
    QTest::newRow("lower case") << QStringLiteral("parallelfast") << false;
    QTest::newRow("C++ spelling") << QStringLiteral("auto_") << false;
    QTest::newRow("padded") << QStringLiteral(" whisperBase") << false;
}

void tst_PipelineOptions::modelPreferenceDecodesOnlyExactNames()
{
    QFETCH(QString, name);
    QFETCH(bool, decodes);
    QCOMPARE(Enums::fromString<ASRModelPreference>(name).has_value(), decodes);
}

void tst_PipelineOptions::everyCaseRoundTrips()
{
    for (LanguageOption l : Enums::allCases<LanguageOption>())
        QCOMPARE(Enums::fromString<LanguageOption>(Enums::toString(l)).value(), l);
    for (ASRModelPreference p : Enums::allCases<ASRModelPreference>())
        QCOMPARE(Enums::fromString<ASRModelPreference>(Enums::toString(p)).value(), p);
    QCOMPARE(Enums::toString(ASRModelPreference::auto_), QStringLiteral("auto"));
}

void tst_PipelineOptions::portugueseIsBrazilian()
{
    const auto pt = Enums::fromString<LanguageOption>(QStringLiteral("pt"));
    QCOMPARE(pt.value(), LanguageOption::portuguese);
    QCOMPARE(LanguageOptions::localeIdentifier(*pt), QStringLiteral("pt-BR"));
    QVERIFY(!Enums::fromString<LanguageOption>(QStringLiteral("EN")).has_value());
}

QTEST_GUILESS_MAIN(tst_PipelineOptions)
#include "tst_PipelineOptions.moc"
