#include "pipeline/OfflineRewriteService.h"
#include "pipeline/TranscriptPostProcessor.h"

#include "support/LogCapture.h"

#include <QtTest>

#include <functional>

using Candidate = TranscriptPostProcessor::Candidate;

namespace {

// Answers each rewrite with whatever the test scripts; can also fail.
class ScriptedRewriteService : public RewriteService {
public:
    std::function<QString(const QString &)> answer = [](const QString &text) { return text; };
    bool fails = false;
    QStringList received;

    QFuture<QString> rewrite(const QString &text, RewritePreset preset, LanguageOption language) override
    {
        received.append(text);
        lastPreset = preset;
        lastLanguage = language;
        QPromise<QString> promise;
        promise.start();
        if (fails)
            promise.setException(std::make_exception_ptr(std::runtime_error("no rewrite")));
        else
            promise.addResult(answer(text));
        promise.finish();
        return promise.future();
    }

    RewritePreset lastPreset = RewritePreset::concise;
    LanguageOption lastLanguage = LanguageOption::russian;
};

// Distinct words ("b1 b2 b3 ...") cut to exactly `length` characters.
QString distinctWords(QChar letter, int length)
{
    QString text;
    for (int i = 1; text.size() < length; ++i)
        text += letter + QString::number(i) + u' ';
    text.truncate(length);
    return text;
}

QString awaited(QFuture<QString> future)
{
    if (!QTest::qWaitFor([&future] { return future.isFinished(); }, 5000))
        return QStringLiteral("<timed out>");
    return future.isValid() && future.resultCount() > 0 ? future.result() : QStringLiteral("<no result>");
}

} // namespace

class tst_TranscriptPostProcessor : public QObject {
    Q_OBJECT
private slots:
    void mergeCandidates_data();
    void mergeCandidates();
    void agreementIsLoggedWithItsOverlap();
    void jaccardSimilarity_data();
    void jaccardSimilarity();
    void isHallucination_data();
    void isHallucination();
    void ruleBasedCleanup_data();
    void ruleBasedCleanup();
    void blankSourcesGiveEmptyTextWithoutPolish();
    void singleSourceIsPolishedAlone();
    void polishFallsBackToCleanup_data();
    void polishFallsBackToCleanup();
    void polishesThroughTheOfflineRewrite();
};

void tst_TranscriptPostProcessor::mergeCandidates_data()
{
    QTest::addColumn<QList<Candidate>>("candidates");
    QTest::addColumn<QString>("expected");

    const double apple = TranscriptPostProcessor::weight("apple");
    const double base = TranscriptPostProcessor::weight("whisperBase");
    const double large = TranscriptPostProcessor::weight("whisperLarge");

    const QString large70 = distinctWords('l', 70);
    const QString base100 = distinctWords('b', 100);
    QTest::newRow("longer base beats large (50 > 44.8)")
        << QList<Candidate>{{base100, base}, {large70, large}} << base100;
    const QString large60 = distinctWords('l', 60);
    QTest::newRow("slightly longer base loses (32.5 vs 38.4)")
        << QList<Candidate>{{distinctWords('b', 65), base}, {large60, large}} << large60;

    const QString large100 = distinctWords('l', 100);
    QTest::newRow("score equal to 80% is not enough")
        << QList<Candidate>{{distinctWords('b', 128), base}, {large100, large}} << large100;
    const QString base129 = distinctWords('b', 129);
    QTest::newRow("score just above 80% wins")
        << QList<Candidate>{{base129, base}, {large100, large}} << base129;

    QTest::newRow("hallucinated challenger never preferred")
        << QList<Candidate>{{base100 + " Thanks For Watching", base}, {large70, large}} << large70;
    const QString repeated = QString("go on go on go on go on go on go on go on ").repeated(3);
    QTest::newRow("repetitive challenger never preferred")
        << QList<Candidate>{{repeated, base}, {large70, large}} << large70;
    // 3 distinct of 10 words is exactly 0.3: not a repetition.
    QTest::newRow("repetition ratio at 0.3 is not a hallucination")
        << QList<Candidate>{{"alpha beta gamma alpha beta gamma alpha beta gamma alpha", base},
                            {distinctWords('l', 40), large}}
        << "alpha beta gamma alpha beta gamma alpha beta gamma alpha";

    const QString agreeLarge = "the cat sat on the mat";
    QTest::newRow("overlap above 0.7 keeps the highest weight")
        << QList<Candidate>{{"the cat sat on the mat today again", base}, {agreeLarge, large}} << agreeLarge;
    // 7 shared words of 10 is exactly 0.7: no agreement, so length decides.
    QTest::newRow("overlap of exactly 0.7 is not agreement")
        << QList<Candidate>{{"a b c d e f g h i j", base}, {"a b c d e f g", large}} << "a b c d e f g h i j";

    // 155 x 0.3 = 46.5 would beat Large (44.8) but not Base after Base has won (48).
    const QString base120 = distinctWords('b', 120);
    QTest::newRow("three sources: each challenger measured against the current best")
        << QList<Candidate>{{distinctWords('a', 155), apple}, {base120, base}, {large70, large}} << base120;
    const QString apple200 = distinctWords('a', 200);
    QTest::newRow("three sources: platform text wins when long enough")
        << QList<Candidate>{{apple200, apple}, {base100, base}, {large70, large}} << apple200;
    QTest::newRow("equal weights keep list order")
        << QList<Candidate>{{"x1 x2", 0.5}, {"y1 y2", 0.5}} << "x1 x2";
}

void tst_TranscriptPostProcessor::mergeCandidates()
{
    QFETCH(QList<Candidate>, candidates);
    QFETCH(QString, expected);
    QCOMPARE(TranscriptPostProcessor::mergeCandidates(candidates), expected);
}

void tst_TranscriptPostProcessor::agreementIsLoggedWithItsOverlap()
{
    LogCapture log;
    // 3 shared of 4 distinct words.
    TranscriptPostProcessor::mergeCandidates({{"one two three", 0.8}, {"one two three four", 0.5}});
    QCOMPARE(log.linesStartingWith("[PostProcessor] "),
             QStringList{"[PostProcessor] Models agree (75% overlap), using highest-weight"});

    log.clear();
    TranscriptPostProcessor::mergeCandidates({{"x", 0.8}, {"entirely different words", 0.5}});
    QCOMPARE(log.linesStartingWith("[PostProcessor] "),
             QStringList{"[PostProcessor] Preferred longer transcript from weight=0.5 (24 chars)"});
}

void tst_TranscriptPostProcessor::jaccardSimilarity_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<double>("expected");
    QTest::newRow("both empty") << "" << "  " << 1.0;
    QTest::newRow("one empty") << "" << "word" << 0.0;
    QTest::newRow("case and repeated blanks ignored") << "Hello  World" << "hello world" << 1.0;
    QTest::newRow("punctuation stays part of a word") << "hello, world" << "hello world" << 1.0 / 3.0;
    QTest::newRow("line feed is not a separator") << "a\nb" << "a b" << 0.0;
    QTest::newRow("canonically equal words") << QStringLiteral("cafe\u0301") << QStringLiteral("caf\u00e9") << 1.0;
}

void tst_TranscriptPostProcessor::jaccardSimilarity()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(double, expected);
    QCOMPARE(TranscriptPostProcessor::jaccardSimilarity(a, b), expected);
}

void tst_TranscriptPostProcessor::isHallucination_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("marker any case") << "so [Blank_Audio] there" << true;
    QTest::newRow("phrase inside text") << "ok Please Subscribe now" << true;
    QTest::newRow("last phrase of the list") << "translated by someone" << true;
    QTest::newRow("ordinary sentence") << "please send the file by friday" << false;
    QTest::newRow("five repeats are too few to judge") << "no no no no no" << false;
    QTest::newRow("six repeats") << "no no no no no no" << true;
    QTest::newRow("two of seven distinct") << "la di la di la di la" << true;
    QTest::newRow("case-insensitive repeats") << "No NO no nO no No" << true;
}

void tst_TranscriptPostProcessor::isHallucination()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(TranscriptPostProcessor::isHallucination(text), expected);
}

void tst_TranscriptPostProcessor::ruleBasedCleanup_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("duplicates and closing") << "hello hello world" << "Hello world.";
    QTest::newRow("mixed-case duplicates") << "the The the" << "The.";
    QTest::newRow("non-adjacent repeats kept") << "no yes no" << "No yes no.";
    QTest::newRow("already closed") << "Done!" << "Done!";
    QTest::newRow("comma counts as closed") << "and then," << "And then,";
    QTest::newRow("marker only") << "[BLANK_AUDIO]" << "";
    QTest::newRow("markers removed, others kept") << "hi [Music] there [MUSIC]" << "Hi  there [MUSIC].";
    QTest::newRow("sentences capitalised") << "one. two? three" << "One. Two? Three.";
    QTest::newRow("line feed kept, not a sentence start") << "one\ntwo" << "One\ntwo.";
    QTest::newRow("single word keeps its spacing") << "  word  " << "Word.";
}

void tst_TranscriptPostProcessor::ruleBasedCleanup()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TranscriptPostProcessor::ruleBasedCleanup(text), expected);
}

void tst_TranscriptPostProcessor::blankSourcesGiveEmptyTextWithoutPolish()
{
    auto rewrite = std::make_unique<ScriptedRewriteService>();
    ScriptedRewriteService *service = rewrite.get();
    TranscriptPostProcessor processor(nullptr, std::move(rewrite));
    LogCapture log;
    QCOMPARE(awaited(processor.process(" \n\t", std::nullopt, std::nullopt)), QString());
    QCOMPARE(awaited(processor.process("", QString(" "), QString("\n"))), QString());
    QVERIFY(service->received.isEmpty());
    QVERIFY(log.linesStartingWith("[PostProcessor]").isEmpty());
}

void tst_TranscriptPostProcessor::singleSourceIsPolishedAlone()
{
    auto rewrite = std::make_unique<ScriptedRewriteService>();
    ScriptedRewriteService *service = rewrite.get();
    service->answer = [](const QString &text) { return text + " (polished)"; };
    TranscriptPostProcessor processor(nullptr, std::move(rewrite));
    LogCapture log;

    QCOMPARE(awaited(processor.process("  from whisper\n", std::nullopt, QString(" "))),
             QStringLiteral("from whisper (polished)"));
    QCOMPARE(service->received, QStringList{"from whisper"});
    QCOMPARE(service->lastPreset, RewritePreset::grammarCorrect);
    QCOMPARE(service->lastLanguage, LanguageOption::english);
    QCOMPARE(log.linesStartingWith("[PostProcessor]"),
             QStringList{"[PostProcessor] AI polished: 12 → 23 chars"});
}

void tst_TranscriptPostProcessor::polishFallsBackToCleanup_data()
{
    QTest::addColumn<int>("behaviour"); // 0 empty answer, 1 unchanged answer, 2 failure
    QTest::newRow("empty rewrite") << 0;
    QTest::newRow("unchanged rewrite") << 1;
    QTest::newRow("failed rewrite") << 2;
}

void tst_TranscriptPostProcessor::polishFallsBackToCleanup()
{
    QFETCH(int, behaviour);
    auto rewrite = std::make_unique<ScriptedRewriteService>();
    if (behaviour == 0)
        rewrite->answer = [](const QString &) { return QString(); };
    rewrite->fails = behaviour == 2;
    TranscriptPostProcessor processor(nullptr, std::move(rewrite));
    LogCapture log;

    QCOMPARE(awaited(processor.process("hello hello world", std::nullopt, std::nullopt)),
             QStringLiteral("Hello world."));
    QCOMPARE(log.linesStartingWith("[PostProcessor]"),
             QStringList{"[PostProcessor] Using rule-based cleanup"});
}

void tst_TranscriptPostProcessor::polishesThroughTheOfflineRewrite()
{
    TranscriptPostProcessor processor(nullptr, std::make_unique<OfflineRewriteService>());
    const QString large = "the meeting moved to thursday";
    QCOMPARE(awaited(processor.process("the meeting moved to thursday afternoon", QString("the meeting"), large)),
             QStringLiteral("The meeting moved to thursday."));
}

QTEST_GUILESS_MAIN(tst_TranscriptPostProcessor)
#include "tst_TranscriptPostProcessor.moc"
