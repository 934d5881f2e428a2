#include "platform/linux/BufferRegrouper.h"

#include <QtTest>

// The capture backend's cutting of device reads into tap buffers.
class tst_BufferRegrouper : public QObject {
    Q_OBJECT
private slots:
    void stopInTheMiddleDeliversEveryFrameInOrder();
};

void tst_BufferRegrouper::stopInTheMiddleDeliversEveryFrameInOrder()
{
    // stereo reads of odd sizes; frame i holds i on the left and -i on the right
    BufferRegrouper regrouper;
    regrouper.reset(4, 2);
    QList<AudioInput::Buffer> delivered;
    const auto collect = [&](const AudioInput::Buffer &buffer) { delivered << buffer; };
    int next = 0;
    for (int frames : {3, 6, 2}) {
        QList<float> read;
        for (int i = 0; i < frames; ++i, ++next)
            read << float(next) << -float(next);
        regrouper.append(read, collect);
    }
    QCOMPARE(delivered.size(), 2);
    regrouper.flush(collect); // the capture stops with 3 frames pending
    regrouper.flush(collect);

    QList<int> lengths;
    QList<float> left, right;
    for (const AudioInput::Buffer &buffer : delivered) {
        lengths << buffer.frameLength;
        QCOMPARE(buffer.channels.size(), 2);
        left += buffer.channels[0];
        right += buffer.channels[1];
    }
    QCOMPARE(lengths, (QList<int>{4, 4, 3}));
    for (int i = 0; i < next; ++i) {
        QCOMPARE(left.value(i), float(i));
        QCOMPARE(right.value(i), -float(i));
    }
    QCOMPARE(left.size(), next);
}

QTEST_GUILESS_MAIN(tst_BufferRegrouper)
#include "tst_BufferRegrouper.moc"
