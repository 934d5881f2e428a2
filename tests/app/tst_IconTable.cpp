#include "app/IconTable.h"

#include "UiTestSupport.h"

#include <QQmlEngine>
#include <QQuickImageProvider>
#include <QtTest>

// Every symbol the views name must draw something: a name missing from the
// installed theme would leave a blank space.
class tst_IconTable : public QObject {
    Q_OBJECT
private slots:
    void everySymbolDraws();
};

void tst_IconTable::everySymbolDraws()
{
    auto engine = UiTest::makeEngine();
    auto *provider = static_cast<QQuickImageProvider *>(engine->imageProvider(QStringLiteral("symbol")));
    QVERIFY(provider);
    for (const QString &symbol : IconTable::entries().keys()) {
        QSize size;
        const QImage image = provider->requestImage(symbol + QStringLiteral("/ff0000"), &size, QSize(24, 24));
        int red = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                red += qAlpha(image.pixel(x, y)) > 128 && qRed(image.pixel(x, y)) > 200 ? 1 : 0;
        }
        QVERIFY2(red > 10, qPrintable(symbol + QStringLiteral(" -> ") + IconTable::freedesktopName(symbol)));
    }
}

QTEST_MAIN(tst_IconTable)
#include "tst_IconTable.moc"
