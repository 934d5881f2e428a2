#include "app/DictationOverlayModel.h"

#include <QtTest>

using Model = DictationOverlayModel;
using Input = Model::Input;
using Card = Model::StageCard;
using Stage = Model::Stage;
using State = Model::StageState;

Q_DECLARE_METATYPE(Input)
Q_DECLARE_METATYPE(QList<Card>)

namespace {

Input stopped()
{
    Input in;
    in.statusText = QStringLiteral("Refining with Whisper...");
    return in;
}

} // namespace

class tst_DictationOverlayModel : public QObject {
    Q_OBJECT
private slots:
    void header_data();
    void header();
    void stageCards_data();
    void stageCards();
    void barHeights_data();
    void barHeights();
    void ticksRedrawOnlyWhatTheyMove();
};

void tst_DictationOverlayModel::header_data()
{
    QTest::addColumn<Input>("input");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<int>("mascot");
    // what a screen reader is told unasked
    QTest::addColumn<QString>("announced");

    Input hold;
    hold.isDictating = true;
    hold.isRefining = true; // a previous session still refining
    hold.mode = DictationMode::hold;
    QTest::newRow("hold") << hold << "Listening" << "Release Alt Space to stop" << int(Model::MascotState::Listening)
                          << "";
    Input toggle = hold;
    toggle.mode = DictationMode::toggle;
    QTest::newRow("toggle") << toggle << "Listening" << "Super Space to stop" << int(Model::MascotState::Listening)
                            << "";
    for (const char *flag : {"refining", "large", "polishing"}) {
        Input in = stopped();
        in.isRefining = qstrcmp(flag, "refining") == 0;
        in.isLargeModelProcessing = qstrcmp(flag, "large") == 0;
        in.isPolishing = qstrcmp(flag, "polishing") == 0;
        QTest::newRow(flag) << in << "Refining" << "Refining with Whisper..." << int(Model::MascotState::Processing)
                            << "";
    }
    Input done = stopped();
    QTest::newRow("stopped, nothing running") << done << "Done" << "Refining with Whisper..."
                                              << int(Model::MascotState::Done) << "";
    Input finished = stopped();
    finished.liveTranscript = QStringLiteral("buy milk");
    finished.finalText = QStringLiteral("Buy milk.");
    finished.statusText = QStringLiteral("Done");
    QTest::newRow("finished") << finished << "Done" << "Done" << int(Model::MascotState::Done) << "Done";
    finished.statusText = QStringLiteral("Error: the recording could not be read.");
    QTest::newRow("finished with an error") << finished << "Done" << finished.statusText
                                            << int(Model::MascotState::Done)
                                            << "Done. Error: the recording could not be read.";
    Input failed;
    failed.startFailed = true;
    failed.statusText = QStringLiteral("Failed to start: No Whisper ASR model is installed.");
    QTest::newRow("start failed") << failed << "Not started" << failed.statusText << int(Model::MascotState::Failed)
                                  << "Not started. Failed to start: No Whisper ASR model is installed.";
}

void tst_DictationOverlayModel::header()
{
    QFETCH(Input, input);
    QFETCH(QString, title);
    QFETCH(QString, hint);
    QFETCH(int, mascot);
    QCOMPARE(Model::statusTitle(input), title);
    QCOMPARE(Model::hintLine(input), hint);
    QCOMPARE(int(Model::mascotState(input)), mascot);
    QTEST(Model::announcement(input), "announced");
}

void tst_DictationOverlayModel::stageCards_data()
{
    QTest::addColumn<Input>("input");
    QTest::addColumn<QList<Card>>("cards");

    Input listening;
    listening.isDictating = true;
    listening.liveTranscript = QStringLiteral("hello");
    QTest::newRow("no cards while dictating") << listening << QList<Card>{};

    Input justStopped = stopped();
    QTest::newRow("empty live text: Base first, pending")
        << justStopped << QList<Card>{{Stage::WhisperBase, State::Pending, 0, {}, false}};

    Input running = stopped();
    running.liveTranscript = QStringLiteral("live");
    running.isRefining = true;
    running.refiningElapsedSeconds = 1.25;
    running.refinedTranscript = QStringLiteral("stale");
    running.largeModelEnabled = true;
    running.isLargeModelProcessing = true;
    running.largeModelElapsedSeconds = 1.3;
    QTest::newRow("three stages running")
        << running
        << QList<Card>{{Stage::Apple, State::Complete, 0, QStringLiteral("live"), false},
                       {Stage::WhisperBase, State::Running, 1.25, QStringLiteral("stale"), false},
                       {Stage::WhisperLarge, State::Running, 1.3, {}, false}};

    Input largeOff = stopped();
    largeOff.refinedTranscript = QStringLiteral("base");
    largeOff.largeModelTranscript = QStringLiteral("large text");
    largeOff.isPolishing = true;
    largeOff.polishingElapsedSeconds = 0.4;
    QTest::newRow("large model off, polishing without text")
        << largeOff
        << QList<Card>{{Stage::WhisperBase, State::Complete, 0, QStringLiteral("base"), false},
                       {Stage::Polish, State::Running, 0.4, {}, true}};

    Input done = stopped();
    done.liveTranscript = QStringLiteral("live");
    done.refinedTranscript = QStringLiteral("base");
    done.largeModelEnabled = true;
    done.largeModelTranscript = QStringLiteral("large");
    done.finalText = QStringLiteral("Final.");
    done.refiningElapsedSeconds = 2; // kept after the stage ends, not shown
    Input noBase = stopped();
    noBase.liveTranscript = QStringLiteral("live");
    noBase.refiningFailure = QStringLiteral("Skipped: not installed");
    noBase.largeModelEnabled = true;
    noBase.largeModelFailure = QStringLiteral("Skipped: Whisper Base gave no text");
    noBase.finalText = QStringLiteral("Live.");
    QTest::newRow("Base skipped: the cards say why")
        << noBase
        << QList<Card>{{Stage::Apple, State::Complete, 0, QStringLiteral("live"), false},
                       {Stage::WhisperBase, State::NoText, 0, QStringLiteral("Skipped: not installed"), false},
                       {Stage::WhisperLarge, State::NoText, 0, QStringLiteral("Skipped: Whisper Base gave no text"),
                        false},
                       {Stage::Polish, State::Complete, 0, QStringLiteral("Live."), true}};

    Input failed = stopped();
    failed.startFailed = true;
    QTest::newRow("no cards after a failed start") << failed << QList<Card>{};

    QTest::newRow("all done")
        << done
        << QList<Card>{{Stage::Apple, State::Complete, 0, QStringLiteral("live"), false},
                       {Stage::WhisperBase, State::Complete, 0, QStringLiteral("base"), false},
                       {Stage::WhisperLarge, State::Complete, 0, QStringLiteral("large"), false},
                       {Stage::Polish, State::Complete, 0, QStringLiteral("Final."), true}};
}

void tst_DictationOverlayModel::stageCards()
{
    QFETCH(Input, input);
    QFETCH(QList<Card>, cards);
    QCOMPARE(Model::stageCards(input), cards);
}

void tst_DictationOverlayModel::barHeights_data()
{
    QTest::addColumn<float>("level");
    QTest::addColumn<QList<double>>("heights");
    QTest::newRow("silence") << 0.0f << QList<double>{3, 3, 3, 3, 3};
    QTest::newRow("half") << 0.5f << QList<double>{11.5, 13.2, 14.9, 16.6, 18.3};
    QTest::newRow("full, clamped") << 1.0f << QList<double>{20, 20, 20, 20, 20};
    QTest::newRow("below zero") << -1.0f << QList<double>{3, 3, 3, 3, 3};
}

void tst_DictationOverlayModel::barHeights()
{
    QFETCH(float, level);
    QFETCH(QList<double>, heights);
    const QList<double> actual = Model::barHeights(level);
    QCOMPARE(actual.size(), heights.size());
    for (qsizetype i = 0; i < heights.size(); ++i)
        QVERIFY2(qAbs(actual[i] - heights[i]) < 1e-6, qPrintable(QString::number(actual[i])));
}

void tst_DictationOverlayModel::ticksRedrawOnlyWhatTheyMove()
{
    Model model;
    Input in = stopped();
    in.largeModelEnabled = true;
    in.isLargeModelProcessing = true;
    model.setInput(in);
    QSignalSpy changed(&model, &Model::changed);
    QSignalSpy level(&model, &Model::audioLevelChanged);
    QSignalSpy rows(model.stages(), &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(model.stages(), &QAbstractItemModel::rowsInserted);

    in.audioLevel = 0.4f;
    model.setInput(in);
    in.largeModelElapsedSeconds = 0.5;
    model.setInput(in);
    QCOMPARE(level.size(), 1);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(0).toModelIndex().row(), 1); // the large model's card
    QCOMPARE(model.stages()->index(1).data(OverlayStageListModel::ElapsedTextRole).toString(), QStringLiteral("0.5s"));

    // the large model ends and the polish starts: one card changes, one comes
    in.isLargeModelProcessing = false;
    in.largeModelTranscript = QStringLiteral("large");
    in.isPolishing = true;
    model.setInput(in);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(model.stages()->cards(), Model::stageCards(in));
}

QTEST_GUILESS_MAIN(tst_DictationOverlayModel)
#include "tst_DictationOverlayModel.moc"
