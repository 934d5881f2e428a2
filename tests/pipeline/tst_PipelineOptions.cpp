#include "pipeline/ASRModelPreference.h"
#include "pipeline/LanguageOption.h"
#include "pipeline/RewritePreset.h"

#include <QtTest>

class tst_PipelineOptions : public QObject {
    Q_OBJECT
private slots:
    void modelPreferenceDecodesOnlyExactNames_data();
    void modelPreferenceDecodesOnlyExactNames();
    void everyCaseRoundTrips();
    void portugueseIsBrazilian();
    void pickerOffersFiveModes();
};

void tst_PipelineOptions::modelPreferenceDecodesOnlyExactNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("decodes");
    QTest::newRow("exact") << QStringLiteral("parallelFast") << true;
    QTest::newRow("keyword case") << QStringLiteral("auto") << true;
    QTest::newRow("lower case") << QStringLiteral("parallelfast") << false;
    QTest::newRow("upper case") << QStringLiteral("AUTO") << false;
    QTest::newRow("C++ spelling") << QStringLiteral("auto_") << false;
    QTest::newRow("padded") << QStringLiteral(" whisperBase") << false;
    QTest::newRow("empty") << QString() << false;
}

void tst_PipelineOptions::modelPreferenceDecodesOnlyExactNames()
{
    QFETCH(QString, name);
    QFETCH(bool, decodes);
    QCOMPARE(Enums::fromString<ASRModelPreference>(name).has_value(), decodes);
}

void tst_PipelineOptions::everyCaseRoundTrips()
{
    QCOMPARE(Enums::allCases<LanguageOption>().size(), 12);
    for (LanguageOption l : Enums::allCases<LanguageOption>())
        QCOMPARE(Enums::fromString<LanguageOption>(Enums::toString(l)).value(), l);
    QCOMPARE(Enums::allCases<ASRModelPreference>().size(), 7);
    for (ASRModelPreference p : Enums::allCases<ASRModelPreference>())
        QCOMPARE(Enums::fromString<ASRModelPreference>(Enums::toString(p)).value(), p);
    QCOMPARE(Enums::toString(RewritePreset::casualSpoken), QStringLiteral("casualSpoken"));
    QCOMPARE(Enums::toString(ASRModelPreference::auto_), QStringLiteral("auto"));
    QCOMPARE(Enums::allCases<RewritePreset>().first(), RewritePresets::defaultValue);
    QCOMPARE(Enums::allCases<ASRModelPreference>().first(), ASRModelPreferences::defaultValue);
}

void tst_PipelineOptions::portugueseIsBrazilian()
{
    const auto pt = Enums::fromString<LanguageOption>(QStringLiteral("pt"));
    QCOMPARE(pt.value(), LanguageOption::portuguese);
    QCOMPARE(LanguageOptions::localeIdentifier(*pt), QStringLiteral("pt-BR"));
    QCOMPARE(LanguageOptions::displayName(LanguageOption::chinese), QStringLiteral("Chinese"));
    QCOMPARE(LanguageOptions::localeIdentifier(LanguageOption::arabic), QStringLiteral("ar-SA"));
    QVERIFY(!Enums::fromString<LanguageOption>(QStringLiteral("EN")).has_value());
}

void tst_PipelineOptions::pickerOffersFiveModes()
{
    int offered = 0;
    for (ASRModelPreference p : Enums::allCases<ASRModelPreference>())
        offered += ASRModelPreferences::pickerLabel(p).has_value();
    QCOMPARE(offered, 5);
    QCOMPARE(ASRModelPreferences::pickerLabel(ASRModelPreference::auto_).value(), QStringLiteral("Apple Speech Only"));
    QVERIFY(!ASRModelPreferences::pickerLabel(ASRModelPreference::whisperMode));
}

QTEST_GUILESS_MAIN(tst_PipelineOptions)
#include "tst_PipelineOptions.moc"
