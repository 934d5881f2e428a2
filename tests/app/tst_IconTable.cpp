#include "app/IconTable.h"

#include "UiTestSupport.h"

#include <QIcon>
#include <QQmlEngine>
#include <QQuickImageProvider>
#include <QTemporaryDir>
#include <QtTest>

// Every symbol the views name must draw something, whatever the desktop's
// icon theme: a name it lacks would leave a blank space, and an icon-only
// button with nothing on it.
class tst_IconTable : public QObject {
    Q_OBJECT
private slots:
    void everySymbolDraws_data();
    void everySymbolDraws();
    void cleanup();

private:
    const QStringList m_searchPaths = QIcon::themeSearchPaths();
};

void tst_IconTable::everySymbolDraws_data()
{
    QTest::addColumn<QString>("theme");
    QTest::addColumn<bool>("themesInstalled");
    QTest::newRow("the installed theme") << QString() << true;
    // a KDE session without Breeze installed
    QTest::newRow("a theme that is missing") << QStringLiteral("breeze-not-installed") << true;
    QTest::newRow("no theme at all") << QStringLiteral("breeze-not-installed") << false;
}

void tst_IconTable::everySymbolDraws()
{
    QFETCH(QString, theme);
    QFETCH(bool, themesInstalled);
    auto engine = UiTest::makeEngine();
    auto *provider = static_cast<QQuickImageProvider *>(engine->imageProvider(QStringLiteral("symbol")));
    QVERIFY(provider);
    QTemporaryDir nowhere;
    if (!themesInstalled)
        QIcon::setThemeSearchPaths({nowhere.path()});
    if (!theme.isEmpty())
        QIcon::setThemeName(theme);

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

void tst_IconTable::cleanup()
{
    QIcon::setThemeSearchPaths(m_searchPaths);
    QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QTEST_MAIN(tst_IconTable)
#include "tst_IconTable.moc"
