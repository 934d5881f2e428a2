#include "pipeline/TranscriptPostProcessor.h"

#include "support/FutureWait.h"

#include <QtTest>

using Candidate = TranscriptPostProcessor::Candidate;

namespace {

enum RewriteBehaviour { Suffix, Empty, Unchanged, Fails, Cancelled };

// Answers each rewrite as the test scripts it, or fails; records "preset/language: text" per request.
class ScriptedRewriteService : public RewriteService {
public:
    RewriteBehaviour behaviour = Unchanged;
    QStringList received;

    QFuture<QString> rewrite(const QString &text, RewritePreset preset, LanguageOption language) override
    {
        received.append(Enums::toString(preset) + '/' + Enums::toString(language) + ": " + text);
        if (behaviour == Fails)
            return QtFuture::makeExceptionalFuture<QString>(std::make_exception_ptr(std::runtime_error("no rewrite")));
        if (behaviour == Cancelled) {
            QPromise<QString> dropped; // a promise dropped unfinished cancels its future
            dropped.start();
            return dropped.future();
        }
        return QtFuture::makeReadyFuture(behaviour == Suffix ? text + " (polished)"
                                         : behaviour == Empty ? QString()
                                                              : text);
    }
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
    if (!waitForFuture(future, 5000))
        return QStringLiteral("<timed out>");
    return future.isValid() && future.resultCount() > 0 ? future.result() : QStringLiteral("<no result>");
}

} // namespace

class tst_TranscriptPostProcessor : public QObject {
    Q_OBJECT
private slots:
    void mergeCandidates_data();
    void mergeCandidates();
    void jaccardSimilarity_data();
    void jaccardSimilarity();
    void isHallucination_data();
    void isHallucination();
    void ruleBasedCleanup_data();
    void ruleBasedCleanup();
    void process_data();
    void process();
};

void tst_TranscriptPostProcessor::mergeCandidates_data()
{
    QTest::addColumn<QList<Candidate>>("candidates");
    QTest::addColumn<QString>("expected");

    const double apple = TranscriptPostProcessor::weight("apple");
    const double base = TranscriptPostProcessor::weight("whisperBase");
    const double large = TranscriptPostProcessor::weight("whisperLarge");

    // A challenger must score more than 80% of the best: 128 x 0.5 = 0.8 x 100 x 0.8.
    const QString large70 = distinctWords('l', 70);
    const QString large100 = distinctWords('l', 100);
    QTest::newRow("score equal to 80% is not enough")
        << QList<Candidate>{{distinctWords('b', 128), base}, {large100, large}} << large100;
    const QString base129 = distinctWords('b', 129);
    QTest::newRow("score just above 80% wins")
        << QList<Candidate>{{base129, base}, {large100, large}} << base129;

    QTest::newRow("hallucinated challenger never preferred")
        << QList<Candidate>{{distinctWords('b', 100) + " Thanks For Watching", base}, {large70, large}} << large70;
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
    QTest::newRow("equal weights keep list order")
        << QList<Candidate>{{"x1 x2", 0.5}, {"y1 y2", 0.5}} << "x1 x2";
}

void tst_TranscriptPostProcessor::mergeCandidates()
{
    QFETCH(QList<Candidate>, candidates);
    QFETCH(QString, expected);
    QCOMPARE(TranscriptPostProcessor::mergeCandidates(candidates), expected);
}

void tst_TranscriptPostProcessor::jaccardSimilarity_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<double>("expected");
    QTest::newRow("both empty") << "" << "  " << 1.0;
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
    QTest::newRow("ordinary sentence") << "please send the file by friday" << false;
    QTest::newRow("five repeats are too few to judge") << "no no no no no" << false;
    QTest::newRow("six repeats") << "no no no no no no" << true;
    QTest::newRow("two of seven distinct") << "la di la di la di la" << true;
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
    QTest::newRow("mixed-case duplicates") << "the The the" << "The.";
    QTest::newRow("non-adjacent repeats kept") << "no yes no" << "No yes no.";
    QTest::newRow("comma counts as closed") << "and then," << "And then,";
    QTest::newRow("question mark counts as closed") << "how are you?" << "How are you?";
    QTest::newRow("exclamation mark counts as closed") << "done!" << "Done!";
    QTest::newRow("marker only") << "[BLANK_AUDIO]" << "";
    QTest::newRow("markers removed, others kept") << "hi [Music] there [MUSIC]" << "Hi there [MUSIC].";
    QTest::newRow("marker at the end") << "hello [BLANK_AUDIO]." << "Hello.";
    QTest::newRow("repeat before a marker") << "go go [Music]." << "Go.";
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

void tst_TranscriptPostProcessor::process_data()
{
    QTest::addColumn<QStringList>("sources"); // apple, base, large; a null string is no source
    QTest::addColumn<int>("rewrite");
    QTest::addColumn<QString>("polished"); // what goes to the rewrite; null: nothing
    QTest::addColumn<QString>("expected");

    QTest::newRow("blank sources, no polish") << QStringList{" \n\t", "", QString()} << int(Suffix) << QString()
                                              << "";
    QTest::newRow("single source polished alone") << QStringList{"  from whisper\n", QString(), " "} << int(Suffix)
                                                  << "from whisper" << "from whisper (polished)";
    const QStringList hello{"hello hello world", QString(), QString()};
    QTest::newRow("empty rewrite") << hello << int(Empty) << hello[0] << "Hello world.";
    QTest::newRow("failed rewrite") << hello << int(Fails) << hello[0] << "Hello world.";
    QTest::newRow("cancelled rewrite") << hello << int(Cancelled) << hello[0] << "Hello world.";
}

void tst_TranscriptPostProcessor::process()
{
    QFETCH(QStringList, sources);
    QFETCH(int, rewrite);
    QFETCH(QString, polished);
    QFETCH(QString, expected);
    auto service = std::make_unique<ScriptedRewriteService>();
    ScriptedRewriteService &scripted = *service;
    scripted.behaviour = RewriteBehaviour(rewrite);
    TranscriptPostProcessor processor(nullptr, std::move(service));
    const auto source = [&](int i) { return sources[i].isNull() ? std::nullopt : std::optional(sources[i]); };

    QCOMPARE(awaited(processor.process(sources[0], source(1), source(2))), expected);
    // Polish always asks for grammar correction in English.
    QCOMPARE(scripted.received, polished.isNull() ? QStringList() : QStringList{"grammarCorrect/en: " + polished});
}

QTEST_GUILESS_MAIN(tst_TranscriptPostProcessor)
#include "tst_TranscriptPostProcessor.moc"
