#include "pipeline/OfflineRewriteService.h"

#include <QtTest>

class tst_OfflineRewriteService : public QObject {
    Q_OBJECT
private slots:
    void rewrite_data();
    void rewrite();

private:
    OfflineRewriteService m_service;
};

void tst_OfflineRewriteService::rewrite_data()
{
    QTest::addColumn<RewritePreset>("preset");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    for (RewritePreset preset : Enums::allCases<RewritePreset>()) {
        const QByteArray name = Enums::toString(preset).toUtf8();
        QTest::newRow(name + " empty") << preset << "" << "";
        QTest::newRow(name + " blank") << preset << " \n\t " << "";
    }

    const auto grammar = RewritePreset::grammarCorrect;
    QTest::newRow("grammar keeps question") << grammar << "  is it done?\n" << "Is it done?";
    QTest::newRow("grammar keeps comma end") << grammar << "well," << "Well,.";
    QTest::newRow("grammar sharp s grows") << grammar << "ßo" << "SSo.";

    const auto pro = RewritePreset::professional;
    QTest::newRow("pro contractions and slang") << pro << "we can't go, yeah" << "We cannot go, yes.";
    QTest::newRow("pro any case") << pro << "We DON'T Wanna" << "We do not want to.";
    QTest::newRow("pro okay whole before ok") << pro << "okay then, OK" << "understood then, understood.";
    QTest::newRow("pro inside words untouched") << pro << "the book token for Hannah" << "The book token for Hannah.";
    QTest::newRow("pro after punctuation") << pro << "(gonna) \"ok\"" << "(going to) \"understood\".";
    QTest::newRow("pro typographic apostrophe untouched") << pro << "I can’t" << "I can’t.";

    const auto casual = RewritePreset::casualSpoken;
    QTest::newRow("casual drops final period") << casual << "Hello There." << "hello there";
    QTest::newRow("casual drops one period only") << casual << "Wait..." << "wait..";

    const auto concise = RewritePreset::concise;
    QTest::newRow("concise first sentence") << concise << "First point. Second point!" << "First point.";
    QTest::newRow("concise question closes with period") << concise << "is it ready? yes" << "Is it ready.";
    QTest::newRow("concise marks only") << concise << "?!" << "?!";
    QTest::newRow("concise skips empty leading pieces") << concise << ". . ok then. more" << "Ok then.";
}

void tst_OfflineRewriteService::rewrite()
{
    QFETCH(RewritePreset, preset);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(m_service.rewrite(text, preset, LanguageOption::english).result(), expected);
}

QTEST_GUILESS_MAIN(tst_OfflineRewriteService)
#include "tst_OfflineRewriteService.moc"
