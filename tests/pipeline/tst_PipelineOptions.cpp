#include "pipeline/ASRModelPreference.h"
#include "support/LanguageOption.h"

#include <QtTest>

class tst_PipelineOptions : public QObject {
    Q_OBJECT
private slots:
    void storedNamesReadBackExactly();
};

void tst_PipelineOptions::storedNamesReadBackExactly()
{
    for (LanguageOption l : Enums::allCases<LanguageOption>())
        QCOMPARE(Enums::fromString<LanguageOption>(Enums::toString(l)).value(), l);
    for (ASRModelPreference p : Enums::allCases<ASRModelPreference>())
        QCOMPARE(Enums::fromString<ASRModelPreference>(Enums::toString(p)).value(), p);
    // the case C++ spells auto_ is stored as "auto"
    QCOMPARE(Enums::fromString<ASRModelPreference>(QStringLiteral("auto")).value(), ASRModelPreference::auto_);
    for (const char *name : {"parallelfast", "auto_", " whisperBase"})
        QVERIFY2(!Enums::fromString<ASRModelPreference>(QString::fromLatin1(name)), name);
}

QTEST_GUILESS_MAIN(tst_PipelineOptions)
#include "tst_PipelineOptions.moc"
