// Times the text stages that run on every dictation (spoken punctuation,
// filler removal, merge and polish) on generated transcripts, and checks that
// they stay linear: a 100,000-word input should cost at most ~10x a 10,000-word one.
#include "pipeline/OfflineRewriteService.h"
#include "pipeline/SpokenPunctuation.h"
#include "pipeline/TranscriptPostProcessor.h"
#include "profile/FillerLexicon.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// Mostly plain words, with the fillers and spoken marks a real dictation has.
QString transcript(int words, quint32 seed)
{
    static const QStringList vocabulary = {
        "the", "meeting", "is", "moved", "to", "thursday", "please", "send", "report", "budget",
        "we", "should", "review", "numbers", "before", "launch", "customer", "feedback", "was",
        "positive", "team", "will", "follow", "up", "next", "week", "and", "then", "ship",
        "um", "uh", "like", "so", "basically", "comma", "period", "question mark", "new line",
        "Okay", "don't", "gonna", "yeah",
    };
    QRandomGenerator random(seed);
    QString text;
    text.reserve(words * 7);
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            text += u' ';
        text += vocabulary.at(random.bounded(int(vocabulary.size())));
    }
    return text;
}

// Best of several runs, in milliseconds.
double bestOf(int runs, const std::function<void()> &work)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

QString awaited(QFuture<QString> future)
{
    while (!future.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return future.result();
}

struct Stage {
    const char *name;
    std::function<void(const QString &a, const QString &b, const QString &c)> run;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TranscriptPostProcessor processor(nullptr, std::make_unique<OfflineRewriteService>());
    // The merge and polish log one line per call; keep the report readable.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});

    const QList<Stage> stages = {
        {"spoken punctuation", [](const QString &a, const QString &, const QString &) {
             SpokenPunctuation::apply(a);
         }},
        {"filler removal", [](const QString &a, const QString &, const QString &) {
             FillerLexicon::removeFillers(a, QStringLiteral("en"), false);
             FillerLexicon::fillerDensity(a, QStringLiteral("en"));
         }},
        {"merge and polish", [&processor](const QString &a, const QString &b, const QString &c) {
             awaited(processor.process(a, b, c));
         }},
    };

    const int small = 10'000;
    const int large = 100'000;
    const QString smallInputs[] = {transcript(small, 1), transcript(small, 2), transcript(small, 3)};
    const QString largeInputs[] = {transcript(large, 1), transcript(large, 2), transcript(large, 3)};

    std::printf("%-20s %16s %16s %8s\n", "stage", "ms/1000 words", "ms/1000 (100k)", "ratio");
    bool linear = true;
    for (const Stage &stage : stages) {
        const double smallMs = bestOf(7, [&] { stage.run(smallInputs[0], smallInputs[1], smallInputs[2]); });
        const double largeMs = bestOf(3, [&] { stage.run(largeInputs[0], largeInputs[1], largeInputs[2]); });
        const double ratio = largeMs / smallMs;
        linear = linear && ratio <= 11.0;
        std::printf("%-20s %16.3f %16.3f %8.2f\n", stage.name, smallMs / (small / 1000.0),
                    largeMs / (large / 1000.0), ratio);
    }
    std::printf("ratio goal 100k/10k <= 11: %s\n", linear ? "met" : "NOT met");
    return 0;
}
