#include "SpeechTestRig.h"

#include <QSignalSpy>
#include <QtTest>

using Voice = SystemSpeechSynthesizer::Voice;
using Language = NeuralVoiceModel::Language;
using Audio = FakeNeuralVoiceEngine::Audio;
Q_DECLARE_METATYPE(Audio)

namespace {
QString sentences(int count, const QString &between = QStringLiteral(" "))
{
    QStringList list;
    for (int i = 1; i <= count; ++i)
        list << QStringLiteral("Sentence number %1 is here.").arg(i);
    return list.join(between);
}
} // namespace

class tst_TextToSpeechService : public QObject {
    Q_OBJECT
private slots:
    void splitIntoChunks_data();
    void splitIntoChunks();
    void summary_data();
    void summary();
    void bestSystemVoice_data();
    void bestSystemVoice();
    void systemSpeechEndsOnlyWithItsOwnFinish();
    void summarizeAndSpeakAgain();
    void loadChoosesTheVoice_data();
    void loadChoosesTheVoice();
    void neuralChunksPlayInOrder_data();
    void neuralChunksPlayInOrder();
    void stopDuringSynthesisPlaysNothingMore();
    void voiceSwitchLoadsOnlyTheNewEmbedding();
    void unavailableEngineStaysWithTheSystemVoice();
};

void tst_TextToSpeechService::splitIntoChunks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("chunks");
    const QString fourHundred = QStringLiteral("  ") + QString(398, QLatin1Char('a'));
    QTest::newRow("400 characters stay whole, untrimmed") << fourHundred << QStringList{fourHundred};
    const QString accented = QString(400, QLatin1Char('e')).replace(QLatin1String("e"), QStringLiteral("e\u0301"));
    QTest::newRow("characters are graphemes") << accented << QStringList{accented};
    QTest::newRow("401 without separators") << QString(401, QLatin1Char('b'))
                                            << QStringList{QString(400, QLatin1Char('b')), QStringLiteral("b")};
    const QString head = QStringLiteral("Short. ") + QString(300, QLatin1Char('c'));
    QTest::newRow("separator order beats position")
        << head + QStringLiteral("! ") + QString(200, QLatin1Char('d'))
        << QStringList{QStringLiteral("Short."), QString(300, QLatin1Char('c')) + QLatin1Char('!'), QString(200, QLatin1Char('d'))};
    const QString part = QString(150, QLatin1Char('e'));
    QTest::newRow("last comma") << part + QStringLiteral(", ") + part + QStringLiteral(", ") + part
                                << QStringList{part + QStringLiteral(", ") + part + QStringLiteral(","), part};
    QTest::newRow("blank pieces vanish") << QString(400, QLatin1Char(' ')) + QStringLiteral("tail")
                                         << QStringList{QStringLiteral("tail")};
}

void tst_TextToSpeechService::splitIntoChunks()
{
    QFETCH(QString, text);
    QFETCH(QStringList, chunks);
    QCOMPARE(TextToSpeechService::splitIntoChunks(text, TextToSpeechService::chunkLength), chunks);
}

void tst_TextToSpeechService::summary_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kept");
    QTest::newRow("3: the text as read") << QStringLiteral("  \n") + sentences(3) + QStringLiteral("\n ") << -1;
    QTest::newRow("4") << sentences(4, QStringLiteral("\n")) << 3;
    QTest::newRow("11") << sentences(11) << 3;
    QTest::newRow("12") << sentences(12) << 4;
    QTest::newRow("14") << sentences(14) << 4;
    QTest::newRow("15") << sentences(15) << 5;
}

void tst_TextToSpeechService::summary()
{
    QFETCH(QString, text);
    QFETCH(int, kept);
    QCOMPARE(TextToSpeechService::summarize(text), kept < 0 ? text : sentences(kept));
}

void tst_TextToSpeechService::bestSystemVoice_data()
{
    QTest::addColumn<QList<Voice>>("voices");
    QTest::addColumn<QString>("best");
    auto voice = [](const char *name, const char *language, int quality) {
        return Voice{QString(), QLatin1String(name), QLatin1String(language), quality};
    };
    const QList<Voice> foreign{voice("French", "fr-fr", 5), voice("German", "de", 9)};
    QTest::newRow("best English, ties keep order")
        << foreign + QList<Voice>{voice("Scots", "en-gb-scotland", 5), voice("British", "en-gb", 8), voice("American", "en-us", 8)}
        << QStringLiteral("British");
    QTest::newRow("no English: best of all") << foreign << QStringLiteral("German");
    QTest::newRow("none") << QList<Voice>{} << QString();
}

void tst_TextToSpeechService::bestSystemVoice()
{
    QFETCH(QList<Voice>, voices);
    QFETCH(QString, best);
    QCOMPARE(TextToSpeechService::findBestSystemVoice(voices).value_or(Voice{}).name, best);
}

void tst_TextToSpeechService::systemSpeechEndsOnlyWithItsOwnFinish()
{
    SpeechTestRig rig;
    rig.system().installedVoices = {{QStringLiteral("gb"), QStringLiteral("British"), QStringLiteral("en-gb"), 8}};
    TextToSpeechService &tts = rig.start();
    QCOMPARE(tts.engineLabel(), QStringLiteral("British"));

    tts.speak(QStringLiteral("first"));
    const quint64 first = rig.system().lastUtterance();
    tts.speak(QString()); // nothing, and the first goes on
    QVERIFY(tts.isSpeaking());
    tts.speak(QStringLiteral("second"));
    const SystemSpeechSynthesizer::Utterance &spoken = rig.system().utterances.last();
    QCOMPARE(spoken.text, QStringLiteral("second"));
    QCOMPARE(spoken.voice->name, QStringLiteral("British"));

    emit rig.system().finished(first); // late report of the stopped one
    QVERIFY(tts.isSpeaking());
    QVERIFY(rig.system().finishSpeaking());
    QVERIFY(!tts.isSpeaking());
}

void tst_TextToSpeechService::summarizeAndSpeakAgain()
{
    SpeechTestRig rig;
    TextToSpeechService &tts = rig.start();
    auto spoken = [&] { return rig.system().utterances.isEmpty() ? QString() : rig.system().utterances.last().text; };
    tts.speakAgain();
    QCOMPARE(spoken(), QStringLiteral("No summary available yet."));

    rig.platform.fakeWorkspace().frontmost = RunningApplication{42, {}, 0, {}};
    const auto field = rig.platform.fakeAccessibility().focus(42);
    field->value = sentences(5);
    field->selection = Accessibility::TextRange{0, int(sentences(5).size())};
    tts.summarizeSelectionAndSpeak();
    QTRY_COMPARE(spoken(), sentences(3));
    QCOMPARE(tts.lastSummary(), sentences(3));

    rig.platform.fakeWorkspace().frontmost.reset();
    tts.summarizeSelectionAndSpeak();
    QTRY_COMPARE(spoken(), QStringLiteral("No text selected."));
    QCOMPARE(tts.lastSummary(), sentences(3));
    tts.speakAgain();
    QCOMPARE(spoken(), sentences(3));

    // a second chord while a copy is awaited would take its restore for a copy
    rig.platform.fakeWorkspace().frontmost = RunningApplication{42, {}, 0, {}};
    field->selection = Accessibility::TextRange{0, 0};
    FakePasteboard &pasteboard = rig.platform.fakePasteboard();
    rig.platform.fakeKeySynthesizer().onPress = [&](const FakeKeySynthesizer::Press &) {
        QMetaObject::invokeMethod(&pasteboard, [&] {
            rig.clock.callAfter(std::chrono::milliseconds(100), &pasteboard,
                                [&] { pasteboard.setString(QStringLiteral("Copied.")); });
        });
    };
    tts.summarizeSelectionAndSpeak();
    QTRY_COMPARE(rig.clock.pendingCount(), 2); // the reader's watch, the answer
    tts.summarizeSelectionAndSpeak();
    rig.clock.advance(std::chrono::seconds(5));
    QTRY_COMPARE(spoken(), QStringLiteral("Copied."));
    QCOMPARE(rig.platform.fakeKeySynthesizer().presses.size(), 1);
}

void tst_TextToSpeechService::loadChoosesTheVoice_data()
{
    QTest::addColumn<QStringList>("archive");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("language");
    const QStringList sarahGeorge{QStringLiteral("bm_george"), QStringLiteral("af_sarah")};
    QTest::newRow("stored voice kept, American") << sarahGeorge << QStringLiteral("af_sarah")
                                                 << QStringLiteral("af_sarah") << int(Language::americanEnglish);
    QTest::newRow("first preferred present") << QStringList{QStringLiteral("bf_emma"), QStringLiteral("bm_lewis")}
                                             << QStringLiteral("bm_george") << QStringLiteral("bm_lewis")
                                             << int(Language::britishEnglish);
    QTest::newRow("no preferred: alphabetically first") << QStringList{QStringLiteral("zf_x"), QStringLiteral("am_adam")}
                                                        << QString() << QStringLiteral("am_adam")
                                                        << int(Language::americanEnglish);
}

void tst_TextToSpeechService::loadChoosesTheVoice()
{
    QFETCH(QStringList, archive);
    QFETCH(QString, stored);
    QFETCH(QString, selected);
    QFETCH(int, language);
    SpeechTestRig rig;
    if (!stored.isEmpty())
        rig.platform.settings().setValue(TextToSpeechService::selectedVoiceKey, stored);
    rig.installVoiceFiles(archive);
    TextToSpeechService &tts = rig.start();
    QTRY_VERIFY(tts.isModelLoaded());
    QStringList ascending = archive;
    ascending.sort();
    QCOMPARE(tts.availableVoices(), ascending);
    QCOMPARE(tts.selectedVoice(), selected);
    QCOMPARE(tts.engineLabel(), QStringLiteral("Kokoro AI (%1)").arg(selected));
    QCOMPARE(rig.platform.settings().string(TextToSpeechService::selectedVoiceKey), selected);

    tts.speak(QStringLiteral("Hello."));
    QTRY_VERIFY(!tts.isSpeaking());
    const FakeNeuralVoiceEngine::Generation generation = rig.neural().generations().value(0);
    QCOMPARE(int(generation.language), language);
    QCOMPARE(generation.voiceMark, float(archive.indexOf(selected) + 1));
}

void tst_TextToSpeechService::neuralChunksPlayInOrder_data()
{
    QTest::addColumn<Audio>("audio");
    QTest::addColumn<int>("synthesised");
    QTest::addColumn<int>("played");
    // the second chunk's audio, or its failure
    const auto for2 = [](std::function<std::vector<float>()> samples) {
        return Audio([samples](const QString &text) {
            return text.startsWith(QLatin1Char('2')) ? std::optional(samples()) : std::nullopt;
        });
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    QTest::newRow("all chunks") << Audio() << 3 << 3;
    QTest::newRow("all NaN ends the speech") << for2([=] { return std::vector<float>{nan, nan}; }) << 2 << 1;
    QTest::newRow("empty ends the speech") << for2([] { return std::vector<float>{}; }) << 2 << 1;
    QTest::newRow("some NaN: silence") << for2([=] { return std::vector<float>{0.5f, nan, -inf, 0.25f}; }) << 3 << 3;
    QTest::newRow("engine error ends the speech")
        << for2([]() -> std::vector<float> { throw std::runtime_error("out of memory"); }) << 2 << 1;
}

void tst_TextToSpeechService::neuralChunksPlayInOrder()
{
    QFETCH(Audio, audio);
    QFETCH(int, synthesised);
    QFETCH(int, played);
    SpeechTestRig rig;
    rig.installVoiceFiles({QStringLiteral("bm_george")});
    TextToSpeechService &tts = rig.start();
    QTRY_VERIFY(tts.isModelLoaded());
    rig.neural().setAudio(audio);
    const QStringList chunks{QLatin1Char('1') + QString(390, QLatin1Char('a')) + QLatin1Char('.'),
                             QLatin1Char('2') + QString(390, QLatin1Char('b')) + QLatin1Char('.'),
                             QLatin1Char('3') + QString(390, QLatin1Char('c')) + QLatin1Char('.')};
    tts.speak(chunks.join(QLatin1Char(' ')));
    QVERIFY(tts.isSpeaking());
    QTRY_VERIFY(!tts.isSpeaking());
    QTest::qWait(20);

    QStringList texts;
    for (const auto &generation : rig.neural().generations())
        texts << generation.text;
    QCOMPARE(texts, chunks.first(synthesised));
    QCOMPARE(rig.output().played.size(), played);
    QVERIFY(rig.neural().clearCacheCount >= synthesised);
    QCOMPARE(rig.output().played.first().sampleRate, NeuralVoiceModel::sampleRate);
    if (QTest::currentDataTag() == QByteArray("some NaN: silence"))
        QCOMPARE(rig.output().played.at(1).samples, (std::vector<float>{0.5f, 0, 0, 0.25f}));
}

void tst_TextToSpeechService::stopDuringSynthesisPlaysNothingMore()
{
    SpeechTestRig rig;
    rig.installVoiceFiles({QStringLiteral("bm_george")});
    TextToSpeechService &tts = rig.start();
    QTRY_VERIFY(tts.isModelLoaded());
    rig.neural().setHeld(true);
    tts.speak(QStringLiteral("First sentence, still being made."));
    QTRY_COMPARE(rig.neural().generations().size(), 1);
    tts.stop();
    QVERIFY(!tts.isSpeaking());
    rig.output().holdPlayback = true;
    tts.speak(QStringLiteral("Second."));
    rig.neural().setHeld(false);
    QTRY_COMPARE(rig.output().played.size(), 1);
    QCOMPARE(rig.output().played.first().samples, FakeNeuralVoiceEngine::tone(QStringLiteral("Second.")));
    // the end of the stopped loop leaves the new speech alone
    QVERIFY(tts.isSpeaking());
    QVERIFY(rig.output().finishPlayback());
    QTRY_VERIFY(!tts.isSpeaking());
    QCOMPARE(rig.output().played.size(), 1);
}

void tst_TextToSpeechService::voiceSwitchLoadsOnlyTheNewEmbedding()
{
    SpeechTestRig rig;
    rig.installVoiceFiles({QStringLiteral("bm_george"), QStringLiteral("bf_emma")});
    TextToSpeechService &tts = rig.start();
    QTRY_VERIFY(tts.isModelLoaded());
    tts.selectVoice(QStringLiteral("nobody"));
    QCOMPARE(tts.selectedVoice(), QStringLiteral("bm_george"));

    tts.selectVoice(QStringLiteral("bf_emma"));
    QCOMPARE(rig.platform.settings().string(TextToSpeechService::selectedVoiceKey), QStringLiteral("bf_emma"));
    tts.speak(QStringLiteral("Until the switch is done, the system voice speaks."));
    QCOMPARE(rig.system().utterances.size(), 1);
    QTRY_COMPARE(tts.engineLabel(), QStringLiteral("Kokoro AI (bf_emma)"));
    tts.speak(QStringLiteral("Now Emma."));
    QTRY_VERIFY(!rig.neural().generations().isEmpty());
    QCOMPARE(rig.neural().generations().last().voiceMark, 2.0f);

    // the label follows the choice even when the archive has gone
    QFile::remove(rig.path(TextToSpeechService::voicesFileName));
    tts.selectVoice(QStringLiteral("bm_george"));
    QTRY_COMPARE(tts.engineLabel(), QStringLiteral("Kokoro AI (bm_george)"));
}

void tst_TextToSpeechService::unavailableEngineStaysWithTheSystemVoice()
{
    SpeechTestRig rig;
    rig.neural().available = false;
    rig.system().installedVoices = {{QStringLiteral("gb"), QStringLiteral("British"), QStringLiteral("en-gb"), 8}};
    TextToSpeechService &tts = rig.start(TextToSpeechService::Sources::under(QUrl(QStringLiteral("http://127.0.0.1:9"))));
    tts.prepareOnLaunch();
    tts.prepareOnLaunch();
    QTest::qWait(20);
    QVERIFY(!tts.isDownloading());
    QCOMPARE(tts.engineLabel(), QStringLiteral("British"));

    rig.installVoiceFiles({QStringLiteral("bm_george")});
    TextToSpeechService &again = rig.start();
    QTest::qWait(20);
    QVERIFY(!again.isModelLoaded());
    QCOMPARE(again.engineLabel(), QStringLiteral("British"));
}

QTEST_GUILESS_MAIN(tst_TextToSpeechService)
#include "tst_TextToSpeechService.moc"
