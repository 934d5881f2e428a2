#include "app/TranscriptionModePicker.h"
#include "app/VoiceNames.h"

#include <QtTest>

Q_DECLARE_METATYPE(ASRModelPreference)

// What the settings' pickers offer and how they name it.
class tst_SettingsChoices : public QObject {
    Q_OBJECT
private slots:
    void voiceDisplayName_data();
    void voiceDisplayName();
    void voiceSections_data();
    void voiceSections();
    void modePickerOffersFiveModesWithTheirTags();
    void modePickerSelection_data();
    void modePickerSelection();
};

void tst_SettingsChoices::voiceDisplayName_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::newRow("british male") << "bm_george" << "British Male — George";
    QTest::newRow("american female") << "af_heart" << "American Female — Heart";
    QTest::newRow("chinese female") << "zf_xiaobei" << "Chinese Female — Xiaobei";
    QTest::newRow("hindi, any letter but f is male") << "hx_omega" << "Hindi Male — Omega";
    QTest::newRow("unknown accent letter upper-cased") << "xm_test" << "X Male — Test";
    QTest::newRow("name words capitalised, rest lowered") << "pf_DORA lee" << "Portuguese Female — Dora Lee";
    QTest::newRow("only the first underscore splits") << "jf_alpha_beta" << "Japanese Female — Alpha_beta";
    QTest::newRow("leading underscores are skipped") << "_ef_dora" << "Spanish Female — Dora";
    QTest::newRow("no underscore") << "voice" << "Voice";
    QTest::newRow("three-letter prefix") << "abc_def" << "Abc_def";
    QTest::newRow("nothing after the underscore") << "af_" << "Af_";
    QTest::newRow("accented letters") << "ff_élodie" << "French Female — Élodie";
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
    QTest::newRow("none") << QStringList() << QStringList() << QList<QStringList>();
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
    const QList<VoiceNames::Section> sections = VoiceNames::sections(voices);
    QStringList gotHeaders;
    QList<QStringList> gotIds;
    for (const auto &section : sections) {
        gotHeaders << section.header;
        gotIds << section.voiceIds;
    }
    QCOMPARE(gotHeaders, headers);
    QCOMPARE(gotIds, ids);
}

void tst_SettingsChoices::modePickerOffersFiveModesWithTheirTags()
{
    QStringList items;
    for (const auto &item : TranscriptionModePicker::items())
        items << QStringLiteral("%1=%2").arg(item.text).arg(item.tag);
    QCOMPARE(items, QStringList({"Parallel (Live + Whisper)=0", "Live Speech Only=1", "Whisper Base Only=4",
                                 "Whisper Large Only=5", "Cloud AI=6"}));
}

void tst_SettingsChoices::modePickerSelection_data()
{
    QTest::addColumn<ASRModelPreference>("mode");
    QTest::addColumn<int>("index"); // -1: no item selected
    QTest::newRow("parallel") << ASRModelPreference::parallelFast << 0;
    QTest::newRow("live speech") << ASRModelPreference::auto_ << 1;
    QTest::newRow("hidden fast live") << ASRModelPreference::appleSpeechFast << -1;
    QTest::newRow("hidden whisper") << ASRModelPreference::whisperMode << -1;
    QTest::newRow("base") << ASRModelPreference::whisperBase << 2;
    QTest::newRow("large") << ASRModelPreference::whisperLargeV3 << 3;
    QTest::newRow("cloud") << ASRModelPreference::cloudflareWhisper << 4;
}

void tst_SettingsChoices::modePickerSelection()
{
    QFETCH(ASRModelPreference, mode);
    QFETCH(int, index);
    QCOMPARE(TranscriptionModePicker::indexOf(mode), index);
}

QTEST_GUILESS_MAIN(tst_SettingsChoices)
#include "tst_SettingsChoices.moc"
