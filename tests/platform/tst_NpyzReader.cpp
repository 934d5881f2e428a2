#include "support/NpzWriter.h"
#include "platform/NpyzReader.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <functional>

using Damage = std::function<void(QByteArray &)>;
Q_DECLARE_METATYPE(Damage)

namespace {
const std::vector<float> kValues{0.5f, -1.25f, 2.0f, 0.0f, 3.5f, -0.75f};
const QList<qint64> kShape{2, 1, 3};

// Position of the first central directory record.
qsizetype directoryRecord(const QByteArray &zip)
{
    return zip.indexOf(QByteArray("PK\x01\x02", 4));
}

void patch32(QByteArray &bytes, qsizetype at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}
} // namespace

class tst_NpyzReader : public QObject {
    Q_OBJECT
private slots:
    void readsEntries_data();
    void readsEntries();
    void damagedArchivesGiveErrors_data();
    void damagedArchivesGiveErrors();

private:
    QString store(const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("voices.npz"));
        NpzWriter::write(path, bytes);
        return path;
    }
    QTemporaryDir m_dir;
};

void tst_NpyzReader::readsEntries_data()
{
    QTest::addColumn<bool>("deflated");
    QTest::addColumn<bool>("zip64");
    QTest::addColumn<bool>("half");
    QTest::addColumn<int>("version");
    QTest::newRow("stored") << false << false << false << 1;
    QTest::newRow("zip64, deflated") << true << true << false << 1;
    QTest::newRow("float16") << false << false << true << 1;
    QTest::newRow("npy version 2") << true << false << false << 2;
    QTest::newRow("npy version 3, zip64") << false << true << true << 3;
}

void tst_NpyzReader::readsEntries()
{
    QFETCH(bool, deflated);
    QFETCH(bool, zip64);
    QFETCH(bool, half);
    QFETCH(int, version);
    QByteArray archive = NpzWriter::zip({{QStringLiteral("bm_george.npy"), NpzWriter::npy(kShape, kValues, half, version), deflated},
                                         {QStringLiteral("af_sarah.npy"), NpzWriter::npy({3}, {1, 2, 3}), deflated}},
                                        zip64);
    // the other entry is broken: reading one entry must not touch it
    archive[archive.indexOf("af_sarah.npy") + 12 + 60] ^= 0x55;
    NpyzReader reader(store(archive));
    QVERIFY2(reader.open(), qPrintable(reader.errorString()));
    QCOMPARE(reader.entryNames(), (QStringList{QStringLiteral("bm_george.npy"), QStringLiteral("af_sarah.npy")}));
    const std::optional<NpyArray> array = reader.read(QStringLiteral("bm_george.npy"));
    QVERIFY2(array, qPrintable(reader.errorString()));
    QCOMPARE(array->shape, kShape);
    QCOMPARE(array->values, kValues);
    QVERIFY(!reader.read(QStringLiteral("af_sarah.npy")));
    QVERIFY(!reader.read(QStringLiteral("missing.npy")));
}

void tst_NpyzReader::damagedArchivesGiveErrors_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<Damage>("damage");
    QTest::addColumn<QString>("error");
    const auto entry = [](QByteArray npy, bool deflated = false) {
        return NpzWriter::zip({{QStringLiteral("v.npy"), npy, deflated}});
    };
    const QByteArray good = entry(NpzWriter::npy(kShape, kValues));
    const QByteArray goodDeflated = entry(NpzWriter::npy(kShape, kValues), true);
    const Damage none = [](QByteArray &) {};

    QTest::newRow("bad CRC") << good << Damage([](QByteArray &a) { a[a.indexOf("v.npy") + 5 + 100] ^= 1; })
                             << "CRC mismatch";
    QTest::newRow("truncated") << good << Damage([](QByteArray &a) { a.chop(30); }) << "not a zip archive";
    QTest::newRow("entry beyond the file") << good
                                           << Damage([](QByteArray &a) {
                                                  patch32(a, directoryRecord(a) + 20, 0x7FFFFFFF);
                                                  patch32(a, directoryRecord(a) + 24, 0x7FFFFFFF);
                                              })
                                           << "more than an entry may hold";
    QTest::newRow("compressed size beyond the file")
        << goodDeflated << Damage([](QByteArray &a) { patch32(a, directoryRecord(a) + 20, 0x00FFFFFF); })
        << "beyond the end of the file";
    QTest::newRow("impossible expansion")
        << goodDeflated << Damage([](QByteArray &a) { patch32(a, directoryRecord(a) + 24, 0x03000000); })
        << "impossible";
    QTest::newRow("deflated longer than declared")
        << goodDeflated << Damage([](QByteArray &a) { patch32(a, directoryRecord(a) + 24, 40); })
        << "does not match its size";
    QTest::newRow("shape larger than the data")
        << entry(NpzWriter::npy({2, 1, 4}, kValues)) << none << "shape does not match the data";
    QTest::newRow("data longer than the shape")
        << entry(NpzWriter::npy({2, 1, 2}, kValues)) << none << "shape does not match the data";
    QTest::newRow("shape overflowing") << entry(NpzWriter::npy({1LL << 40, 1LL << 40}, kValues)) << none
                                       << "shape does not match the data";
    QByteArray bigEndian = NpzWriter::npy(kShape, kValues);
    bigEndian.replace("<f4", ">f4");
    QTest::newRow("big-endian") << entry(bigEndian) << none << "not supported";
    QTest::newRow("not a .npy") << entry("plain text, not an array") << none << "not a .npy array";
    QTest::newRow("zip64 record outside the file")
        << NpzWriter::zip({{QStringLiteral("v.npy"), NpzWriter::npy(kShape, kValues)}}, true)
        << Damage([](QByteArray &a) { a[a.size() - 22 - 20 + 8] = char(0x7F); }) << "broken zip64";
}

void tst_NpyzReader::damagedArchivesGiveErrors()
{
    QFETCH(QByteArray, archive);
    QFETCH(Damage, damage);
    QFETCH(QString, error);
    damage(archive);
    NpyzReader reader(store(archive));
    const bool opened = reader.open();
    QVERIFY(!opened || !reader.read(QStringLiteral("v.npy")));
    QVERIFY2(reader.errorString().contains(error), qPrintable(reader.errorString()));
}

QTEST_GUILESS_MAIN(tst_NpyzReader)
#include "tst_NpyzReader.moc"
