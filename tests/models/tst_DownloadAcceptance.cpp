#include "models/DownloadAcceptance.h"

#include <QtTest>

class tst_DownloadAcceptance : public QObject {
    Q_OBJECT
private slots:
    void announcedSpan_data();
    void announcedSpan();
};

void tst_DownloadAcceptance::announcedSpan_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentLength");
    QTest::addColumn<QByteArray>("contentRange");
    QTest::addColumn<QString>("span"); // "offset end total", or the start of the refusal

    QTest::newRow("whole file") << 200 << QByteArray("1000") << QByteArray() << QStringLiteral("0 1000 1000");
    QTest::newRow("rest of the file") << 206 << QByteArray("600") << QByteArray("bytes 400-999/1000")
                                      << QStringLiteral("400 1000 1000");
    QTest::newRow("middle of the file") << 206 << QByteArray() << QByteArray("bytes 400-599/1000")
                                        << QStringLiteral("400 600 1000");
    QTest::newRow("range ending before it starts") << 206 << QByteArray() << QByteArray("bytes 600-499/1000")
                                                   << QStringLiteral("The server announced an impossible range");
    QTest::newRow("range past the end") << 206 << QByteArray() << QByteArray("bytes 400-1000/1000")
                                        << QStringLiteral("The server announced an impossible range");
    QTest::newRow("part without its range") << 206 << QByteArray("600") << QByteArray()
                                            << QStringLiteral("The server sent part of the file without saying which part.");
    QTest::newRow("total past the bounds") << 206 << QByteArray() << QByteArray("bytes 0-9/100001")
                                           << QStringLiteral("The server offered 100 KB, more than the 100 KB allowed");
}

void tst_DownloadAcceptance::announcedSpan()
{
    QFETCH(int, status);
    QFETCH(QByteArray, contentLength);
    QFETCH(QByteArray, contentRange);
    QFETCH(QString, span);

    const DownloadAcceptance acceptance(DownloadAcceptance::Format::zip, 100'000);
    DownloadAcceptance::Announcement announced;
    const QString refusal = acceptance.readHeaders(status, contentLength, contentRange, announced);
    if (span.front().isDigit()) {
        QCOMPARE(refusal, QString());
        QCOMPARE(QStringLiteral("%1 %2 %3").arg(announced.offset).arg(announced.end).arg(announced.total), span);
    } else {
        QVERIFY2(refusal.startsWith(span), qPrintable(refusal));
    }
}

QTEST_GUILESS_MAIN(tst_DownloadAcceptance)
#include "tst_DownloadAcceptance.moc"
