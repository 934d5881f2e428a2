#include "app/SettingsChoices.h"
#include "app/VoiceNames.h"

#include <QtTest>

// What the settings' pickers offer and how they name it.
class tst_SettingsChoices : public QObject {
    Q_OBJECT
private slots:
    void voiceDisplayName_data();
    void voiceDisplayName();
    void voiceSections_data();
    void voiceSections();
    void voiceStatusAndPreview_data();
    void voiceStatusAndPreview();
    void modeSelection_data();
    void modeSelection();
};

void tst_SettingsChoices::voiceDisplayName_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::newRow("hindi, any letter but f is male") << "hx_omega" << "Hindi Male — Omega";
    QTest::newRow("unknown accent letter upper-cased") << "xm_test" << "X Male — Test";
    QTest::newRow("name words capitalised, rest lowered") << "pf_DORA lee" << "Portuguese Female — Dora Lee";
    QTest::newRow("only the first underscore splits") << "jf_alpha_beta" << "Japanese Female — Alpha_beta";
    QTest::newRow("leading underscores are skipped") << "_ef_dora" << "Spanish Female — Dora";
    QTest::newRow("no underscore") << "voice" << "Voice";
    QTest::newRow("three-letter prefix") << "abc_def" << "Abc_def";
    QTest::newRow("nothing after the underscore") << "af_" << "Af_";
}

void tst_SettingsChoices::voiceDisplayName()
{
    QFETCH(QString, id);
    QFETCH(QString, name);
    QCOMPARE(VoiceNames::voiceDisplayName(id), name);
}

void tst_SettingsChoices::voiceSections_data()
{
    QTest::addColumn<QStringList>("voices");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QList<QStringList>>("ids");
    QTest::newRow("british before american, each sorted")
        << QStringList{"af_sky", "zf_xiaobei", "bm_lewis", "af_bella", "bf_emma"}
        << QStringList{"🇬🇧 British", "🇺🇸 American", "🌍 Other"}
        << QList<QStringList>{{"bf_emma", "bm_lewis"}, {"af_bella", "af_sky"}, {"zf_xiaobei"}};
    QTest::newRow("prefix test is case-sensitive")
        << QStringList{"jf_alpha", "Bm_x", "Af_y"} << QStringList{"🌍 Other"}
        << QList<QStringList>{{"Af_y", "Bm_x", "jf_alpha"}};
}

void tst_SettingsChoices::voiceSections()
{
    QFETCH(QStringList, voices);
    QFETCH(QStringList, headers);
    QFETCH(QList<QStringList>, ids);
    QStringList gotHeaders;
    QList<QStringList> gotIds;
    for (const QVariant &section : SettingsChoices::voiceSections(voices)) {
        gotHeaders << section.toMap().value("header").toString();
        gotIds << section.toMap().value("voices").toStringList();
    }
    QCOMPARE(gotHeaders, headers);
    QCOMPARE(gotIds, ids);
}

void tst_SettingsChoices::voiceStatusAndPreview_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<bool>("neural");
    QTest::addColumn<bool>("speaking");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("preview");
    QTest::newRow("loading") << false << true << false << "Loading voices..." << false;
    QTest::newRow("loaded") << true << true << false << "Currently: British Male — George" << true;
    QTest::newRow("loaded, speaking") << true << true << true << "Currently: British Male — George" << false;
    QTest::newRow("no neural engine, speaking") << false << false << true
                                                << "Neural voices are unavailable on this system" << false;
}

void tst_SettingsChoices::voiceStatusAndPreview()
{
    QFETCH(bool, loaded);
    QFETCH(bool, neural);
    QFETCH(bool, speaking);
    QFETCH(QString, status);
    QFETCH(bool, preview);
    QCOMPARE(SettingsChoices::voiceStatusLine(loaded, neural, QStringLiteral("bm_george")), status);
    QCOMPARE(SettingsChoices::previewEnabled(loaded, neural, speaking), preview);
}

void tst_SettingsChoices::modeSelection_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("index"); // -1: no item selected
    QTest::newRow("parallel") << "parallelFast" << 0;
    QTest::newRow("live speech") << "auto" << 1;
    QTest::newRow("hidden fast live") << "appleSpeechFast" << -1;
    QTest::newRow("cloud") << "cloudflareWhisper" << 4;
}

void tst_SettingsChoices::modeSelection()
{
    QFETCH(QString, mode);
    QFETCH(int, index);
    QCOMPARE(SettingsChoices::indexOfValue(SettingsChoices::transcriptionModes(), mode), index);
}

QTEST_GUILESS_MAIN(tst_SettingsChoices)
#include "tst_SettingsChoices.moc"
