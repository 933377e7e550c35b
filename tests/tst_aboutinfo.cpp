#include "AboutInfo.h"

#include <QtTest>

// The About screen's fallbacks: the version line and the maker's link.
class TestAboutInfo : public QObject
{
    Q_OBJECT
private slots:
    void version()
    {
        QCOMPARE(AboutInfo::displayVersion("2.3.1"), "2.3.1");
        QCOMPARE(AboutInfo::displayVersion(""), "1.0");
        QCOMPARE(AboutInfo::displayVersion(" \t"), "1.0");
    }

    void website_data()
    {
        QTest::addColumn<QString>("website");
        QTest::addColumn<bool>("isLink");
        QTest::addColumn<QString>("label");
        QTest::newRow("https") << "https://hushwing.example" << true << "hushwing.example";
        QTest::newRow("www dropped") << "https://www.hushwing.example/about?x=1" << true << "hushwing.example";
        QTest::newRow("http with port") << "http://hushwing.example:8080/" << true << "hushwing.example";
        QTest::newRow("no scheme") << "hushwing.example" << false << "hushwing.example";
        QTest::newRow("words") << "the Hushwing developers" << false << "the Hushwing developers";
        QTest::newRow("empty") << "" << false << "";
        QTest::newRow("script") << "javascript:alert(1)" << false << "javascript:alert(1)";
        QTest::newRow("file") << "file:///etc/passwd" << false << "file:///etc/passwd";
        QTest::newRow("no host") << "https://" << false << "https://";
        QTest::newRow("space in host") << "https://bad host.example" << false << "https://bad host.example";
    }
    void website()
    {
        QFETCH(QString, website);
        QFETCH(bool, isLink);
        QFETCH(QString, label);
        QCOMPARE(AboutInfo::isLink(website), isLink);
        QCOMPARE(AboutInfo::linkLabel(website), label);
        QCOMPARE(AboutInfo::websiteUrl(website).isEmpty(), !isLink);
    }
};

QTEST_GUILESS_MAIN(TestAboutInfo)
#include "tst_aboutinfo.moc"
