#include "support/ByteCountFormat.h"

#include <QtTest>

class tst_ByteCountFormat : public QObject {
    Q_OBJECT
private slots:
    void formatsLikeFileSizes_data();
    void formatsLikeFileSizes();
};

void tst_ByteCountFormat::formatsLikeFileSizes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << qint64(0) << "Zero KB";
    QTest::newRow("one byte") << qint64(1) << "1 byte";
    QTest::newRow("bytes") << qint64(999) << "999 bytes";
    QTest::newRow("kilobytes are whole") << qint64(1'500) << "2 KB";
    QTest::newRow("rounds up into the next unit") << qint64(999'999) << "1 MB";
    QTest::newRow("terabytes") << qint64(3'456'000'000'000) << "3.46 TB";
}

void tst_ByteCountFormat::formatsLikeFileSizes()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(formatByteCount(bytes), text);
}

QTEST_GUILESS_MAIN(tst_ByteCountFormat)
#include "tst_ByteCountFormat.moc"
