#include "pipeline/CloudApiSettings.h"
#include "platform/fake/FakePlatform.h"

#include <QtTest>

using Problem = CloudApiSettings::Endpoint::Problem;
Q_DECLARE_METATYPE(Problem)

class tst_CloudApiSettings : public QObject {
    Q_OBJECT
private slots:
    void endpointRules_data();
    void endpointRules();
};

void tst_CloudApiSettings::endpointRules_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<Problem>("problem");
    QTest::newRow("https with path") << "https://api.example.com/v1" << "https://api.example.com/v1/transcribe"
                                     << Problem::none;
    QTest::newRow("trailing slash") << "https://api.example.com/v1/" << "https://api.example.com/v1/transcribe"
                                    << Problem::none;
    QTest::newRow("no path") << "https://api.example.com" << "https://api.example.com/transcribe" << Problem::none;
    QTest::newRow("port and query kept") << "https://api.example.com:8443/v2?region=eu"
                                         << "https://api.example.com:8443/v2/transcribe?region=eu" << Problem::none;
    QTest::newRow("http to loopback") << "http://127.0.0.1:8080/v1" << "http://127.0.0.1:8080/v1/transcribe"
                                      << Problem::none;
    QTest::newRow("http to ipv6 loopback") << "http://[::1]:9000" << "http://[::1]:9000/transcribe" << Problem::none;
    QTest::newRow("http elsewhere") << "http://api.example.com/v1" << "" << Problem::insecureBaseUrl;
    QTest::newRow("http to a lookalike") << "http://127.0.0.1.example.com/v1" << "" << Problem::insecureBaseUrl;
    QTest::newRow("empty") << "" << "" << Problem::invalidBaseUrl;
    QTest::newRow("relative") << "api.example.com/v1" << "" << Problem::invalidBaseUrl;
    QTest::newRow("garbage") << "https://exa mple.com/" << "" << Problem::invalidBaseUrl;
}

void tst_CloudApiSettings::endpointRules()
{
    QFETCH(QString, base);
    QFETCH(QString, expected);
    QFETCH(Problem, problem);
    FakePlatform::installNew().fakeSettings().setValue(CloudApiSettings::baseUrlKey, base);
    const CloudApiSettings::Endpoint endpoint = CloudApiSettings::endpoint(QStringLiteral("transcribe"));
    QCOMPARE(endpoint.problem, problem);
    QCOMPARE(endpoint.url.toString(), expected);
    QCOMPARE(endpoint.problemDescription().isEmpty(), problem == Problem::none);
}

QTEST_GUILESS_MAIN(tst_CloudApiSettings)
#include "tst_CloudApiSettings.moc"
