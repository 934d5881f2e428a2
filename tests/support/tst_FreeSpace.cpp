#include "support/FreeSpace.h"

#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <sys/statvfs.h>

class tst_FreeSpace : public QObject {
    Q_OBJECT
private slots:
    void figuresAreTheUsersShare();
    void marginIsKeptFree_data();
    void marginIsKeptFree();
};

void tst_FreeSpace::figuresAreTheUsersShare()
{
    // every field differs, so a figure taken from the wrong one shows
    struct statvfs info {};
    info.f_bsize = 8192;
    info.f_frsize = 1024;
    info.f_blocks = 1'000'000;
    info.f_bfree = 500'000; // the superuser's reserve included
    info.f_bavail = 300'000;
    info.f_files = 1000;
    info.f_ffree = 600;
    info.f_favail = 400;
    const FreeSpace::Figures figures = FreeSpace::fromStatvfs(info);
    QCOMPARE(figures.availableBytes, qint64(307'200'000));
    QCOMPARE(figures.totalBytes, qint64(1'024'000'000));
    QCOMPARE(figures.blockSize, qint64(1024));
    QCOMPARE(figures.availableInodes.value_or(-1), qint64(400));
    QCOMPARE(figures.totalInodes, qint64(1000));
    // a filesystem that reports no inodes sets no limit on them
    info.f_files = info.f_ffree = info.f_favail = 0;
    QVERIFY(!FreeSpace::fromStatvfs(info).availableInodes);

    // the real filesystem, read where a folder is still to be made
    QTemporaryDir directory;
    const auto real = FreeSpace::system().figuresAt(directory.filePath(QStringLiteral("not/made/yet")));
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(QFile::encodeName(directory.path()).toStdString(), error);
    if (!real || error)
        QSKIP("the system does not tell the free space here");
    QVERIFY(real->availableBytes <= real->totalBytes);
    // other programs write meanwhile
    QVERIFY2(qAbs(real->availableBytes - qint64(space.available)) < qint64(space.capacity / 100),
             qPrintable(QStringLiteral("%1 against %2").arg(real->availableBytes).arg(space.available)));
}

void tst_FreeSpace::marginIsKeptFree_data()
{
    QTest::addColumn<qint64>("totalBytes");
    QTest::addColumn<qint64>("availableBytes");
    QTest::addColumn<qint64>("totalInodes"); // 0: no limit
    QTest::addColumn<qint64>("availableInodes");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("inodes");
    QTest::addColumn<QString>("refusal");

    const QString noRoom = QStringLiteral("Not enough free space: the download needs %1 and only %2 is free, while %3 "
                                          "is kept free for other programs.");
    const QString noInodes = QStringLiteral("Not enough free space: the download needs %1 files and folders and only "
                                            "%2 more can be made, while %3 are kept free for other programs.");
    // 5 % of a small filesystem
    QTest::newRow("small, up to the margin") << qint64(200'000'000) << qint64(30'000'000) << qint64(0) << qint64(0)
                                             << qint64(20'000'000) << qint64(1) << QString();
    QTest::newRow("small, into the margin") << qint64(200'000'000) << qint64(30'000'000) << qint64(0) << qint64(0)
                                            << qint64(20'000'001) << qint64(1) << noRoom.arg("20 MB", "30 MB", "10 MB");
    // never more than 1 GB of a large one
    QTest::newRow("large, up to the margin") << qint64(1) * 1000'000'000'000 << qint64(3'000'000'000) << qint64(0)
                                             << qint64(0) << qint64(2'000'000'000) << qint64(1) << QString();
    QTest::newRow("large, into the margin") << qint64(1) * 1000'000'000'000 << qint64(3'000'000'000) << qint64(0)
                                            << qint64(0) << qint64(2'000'000'001) << qint64(1)
                                            << noRoom.arg("2 GB", "3 GB", "1 GB");
    // a disk already inside its margin still lets nothing through
    QTest::newRow("inside the margin") << qint64(200'000'000) << qint64(4'000'000) << qint64(0) << qint64(0)
                                       << qint64(1) << qint64(1) << noRoom.arg("1 byte", "4 MB", "10 MB");
    QTest::newRow("nothing needed") << qint64(200'000'000) << qint64(4'000'000) << qint64(0) << qint64(0)
                                    << qint64(0) << qint64(0) << QString();
    // inodes: 5 %, at most ext4's for 1 GB
    QTest::newRow("inodes up to the margin") << qint64(200'000'000) << qint64(100'000'000) << qint64(1000) << qint64(60)
                                             << qint64(4096) << qint64(10) << QString();
    QTest::newRow("inodes into the margin") << qint64(200'000'000) << qint64(100'000'000) << qint64(1000)
                                            << qint64(60) << qint64(4096) << qint64(11)
                                            << noInodes.arg("11", "60", "50");
    QTest::newRow("many inodes into the margin") << qint64(200'000'000) << qint64(100'000'000) << qint64(10'000'000)
                                                 << qint64(70'000) << qint64(4096) << qint64(8966)
                                                 << noInodes.arg("8966", "70000", "61035");
    QTest::newRow("no inode limit") << qint64(200'000'000) << qint64(100'000'000) << qint64(0) << qint64(0)
                                    << qint64(4096) << qint64(1'000'000) << QString();
}

void tst_FreeSpace::marginIsKeptFree()
{
    QFETCH(qint64, totalBytes);
    QFETCH(qint64, availableBytes);
    QFETCH(qint64, totalInodes);
    QFETCH(qint64, availableInodes);
    QFETCH(qint64, bytes);
    QFETCH(qint64, inodes);
    QFETCH(QString, refusal);

    FreeSpace::Figures figures{availableBytes, totalBytes, 4096, std::nullopt, totalInodes};
    if (totalInodes > 0)
        figures.availableInodes = availableInodes;
    QCOMPARE(figures.shortfall(QStringLiteral("the download"), bytes, inodes), refusal);
}

QTEST_GUILESS_MAIN(tst_FreeSpace)
#include "tst_FreeSpace.moc"
