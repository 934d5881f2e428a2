#include "support/RingBuffer.h"

#include <QtTest>

#include <deque>
#include <numeric>

class tst_RingBuffer : public QObject {
    Q_OBJECT
private slots:
    void keepsTheNewestValuesInOrder_data();
    void keepsTheNewestValuesInOrder();
    void clearKeepsWorking();
};

void tst_RingBuffer::keepsTheNewestValuesInOrder_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QList<int>>("appends");
    QTest::newRow("under capacity") << 10 << QList<int> {3, 4};
    QTest::newRow("exactly full") << 10 << QList<int> {4, 6};
    QTest::newRow("wraps") << 10 << QList<int> {7, 7, 7, 2, 9};
    QTest::newRow("one append larger than capacity") << 10 << QList<int> {3, 25, 1};
    QTest::newRow("appends of exactly capacity") << 8 << QList<int> {8, 8, 5};
    QTest::newRow("empty appends") << 5 << QList<int> {0, 3, 0, 4};
}

void tst_RingBuffer::keepsTheNewestValuesInOrder()
{
    QFETCH(int, capacity);
    QFETCH(QList<int>, appends);
    RingBuffer<int> ring(capacity);
    std::deque<int> expected;
    int next = 0;
    for (int count : appends) {
        std::vector<int> values(count);
        std::iota(values.begin(), values.end(), next);
        next += count;
        ring.append(values.data(), values.size());
        expected.insert(expected.end(), values.begin(), values.end());
        while (int(expected.size()) > capacity)
            expected.pop_front();

        QCOMPARE(ring.toVector(), std::vector<int>(expected.begin(), expected.end()));
        // every slice, including those that cross the wrap point
        for (std::size_t offset = 0; offset < expected.size(); ++offset) {
            std::vector<int> slice;
            ring.copyTo(offset, expected.size() - offset, slice);
            QCOMPARE(slice, std::vector<int>(expected.begin() + offset, expected.end()));
        }
    }
}

void tst_RingBuffer::clearKeepsWorking()
{
    RingBuffer<int> ring(4);
    const int first[] = {1, 2, 3, 4, 5, 6};
    ring.append(first, 6);
    ring.clear();
    QVERIFY(ring.empty());
    const int second[] = {7, 8, 9};
    ring.append(second, 3);
    QCOMPARE(ring.toVector(), (std::vector<int> {7, 8, 9}));
}

QTEST_GUILESS_MAIN(tst_RingBuffer)
#include "tst_RingBuffer.moc"
