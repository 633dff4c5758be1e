// Mail and home-page targets built from stored fields, and the hand-over to the desktop.
#include "platform/launchtargets.h"
#include "platform/shellopen.h"

#include "support/scopedhook.h"

#include <QtTest>

class TestLaunchTargets : public QObject {
    Q_OBJECT

private slots:
    void mailTarget_keepsWholeAddressInPath_data();
    void mailTarget_keepsWholeAddressInPath();
    void homeTarget_opensWebAddresses_data();
    void homeTarget_opensWebAddresses();
    void homeTarget_refusesEverythingElse_data();
    void homeTarget_refusesEverythingElse();
    void shellOpen_goesToInstalledHandler();
};

void TestLaunchTargets::mailTarget_keepsWholeAddressInPath_data()
{
    QTest::addColumn<QString>("mail");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("plain") << "friend@example.jp" << QByteArray("mailto:friend@example.jp");
    QTest::newRow("plus and dots") << "first.last+tag@example.jp"
                                   << QByteArray("mailto:first.last+tag@example.jp");
    QTest::newRow("attachment header")
        << "x@y?attach=/home/u/.ssh/id_rsa" << QByteArray("mailto:x@y%3Fattach=/home/u/.ssh/id_rsa");
    QTest::newRow("subject and body")
        << "a@example.jp?subject=hi&body=text" << QByteArray("mailto:a@example.jp%3Fsubject=hi%26body=text");
    QTest::newRow("fragment") << "a@example.jp#top" << QByteArray("mailto:a@example.jp%23top");
    QTest::newRow("already encoded question mark")
        << "a@example.jp%3Fattach=x" << QByteArray("mailto:a@example.jp%253Fattach=x");
    QTest::newRow("blanks") << "my friend @example.jp " << QByteArray("mailto:my%20friend%20@example.jp%20");
    QTest::newRow("line break header")
        << "a@example.jp\r\nBcc: b@example.jp" << QByteArray("mailto:a@example.jp%0D%0ABcc:%20b@example.jp");
    QTest::newRow("japanese") << QStringLiteral("ともだち@example.jp")
                              << QByteArray("mailto:%E3%81%A8%E3%82%82%E3%81%A0%E3%81%A1@example.jp");
    QTest::newRow("brackets and quotes")
        << "\"a\"<b@example.jp>" << QByteArray("mailto:%22a%22%3Cb@example.jp%3E");
}

void TestLaunchTargets::mailTarget_keepsWholeAddressInPath()
{
    QFETCH(QString, mail);
    QFETCH(QByteArray, encoded);

    const QUrl url = mailTarget(mail);
    QVERIFY(url.isValid());
    QCOMPARE(url.scheme(), QStringLiteral("mailto"));
    QCOMPARE(url.toEncoded(), encoded);
    // Whatever the mail program reads back is one address: no query (headers, attachments) and
    // no fragment, and decoding gives the stored text unchanged.
    QVERIFY(!url.hasQuery());
    QVERIFY(!url.hasFragment());
    QCOMPARE(url.path(QUrl::FullyDecoded), mail);
    QCOMPARE(QUrl::fromEncoded(url.toEncoded()).query(), QString());
}

void TestLaunchTargets::homeTarget_opensWebAddresses_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("opened");

    QTest::newRow("http") << "http://www.example.jp/"
                          << "http://www.example.jp/";
    QTest::newRow("https with path") << "https://www.example.jp/~friend/index.html"
                                     << "https://www.example.jp/~friend/index.html";
    QTest::newRow("ftp") << "ftp://ftp.example.jp/pub/"
                         << "ftp://ftp.example.jp/pub/";
    QTest::newRow("upper case scheme") << "HTTP://www.example.jp/"
                                       << "http://www.example.jp/";
    QTest::newRow("query kept") << "http://www.example.jp/cgi?id=1&x=2"
                                << "http://www.example.jp/cgi?id=1&x=2";
    QTest::newRow("bare host") << "www.example.jp"
                               << "http://www.example.jp";
    QTest::newRow("bare host with path") << "www.example.jp/~friend/"
                                         << "http://www.example.jp/~friend/";
    QTest::newRow("bare host with port") << "example.jp:8080/page"
                                         << "http://example.jp:8080/page";
    QTest::newRow("bare dot com") << "www.example.com"
                                  << "http://www.example.com";
    QTest::newRow("bare address") << "192.168.0.10/home/"
                                  << "http://192.168.0.10/home/";
    QTest::newRow("surrounding blanks") << "  http://www.example.jp/  "
                                        << "http://www.example.jp/";
}

void TestLaunchTargets::homeTarget_opensWebAddresses()
{
    QFETCH(QString, home);
    QFETCH(QString, opened);

    const std::optional<QUrl> url = homeTarget(home);
    QVERIFY(url.has_value());
    QCOMPARE(url->toString(), opened);
}

void TestLaunchTargets::homeTarget_refusesEverythingElse_data()
{
    QTest::addColumn<QString>("home");

    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("file url") << "file:///etc/passwd";
    QTest::newRow("file url upper case") << "FILE:///C:/Windows/system32/calc.exe";
    QTest::newRow("absolute path") << "/usr/bin/xterm";
    QTest::newRow("home path") << "~/.bashrc";
    QTest::newRow("relative path") << "./run.sh";
    QTest::newRow("parent path") << "../setup";
    QTest::newRow("windows path") << "C:\\Windows\\notepad.exe";
    QTest::newRow("windows path slashes") << "c:/windows/notepad.exe";
    QTest::newRow("unc path") << "\\\\server\\share\\tool.exe";
    QTest::newRow("backslash in web address") << "http://www.example.jp\\..\\x";
    QTest::newRow("javascript") << "javascript:alert(1)";
    QTest::newRow("javascript mixed case") << "JavaScript:alert(document.cookie)";
    QTest::newRow("vbscript") << "vbscript:msgbox(1)";
    QTest::newRow("data") << "data:text/html,<script>alert(1)</script>";
    QTest::newRow("mailto") << "mailto:a@example.jp";
    QTest::newRow("smb") << "smb://server/share";
    QTest::newRow("ssh") << "ssh://host.example.jp";
    QTest::newRow("other scheme") << "ms-settings:display";
    QTest::newRow("executable name") << "calc.exe";
    QTest::newRow("installer name") << "setup.msi";
    QTest::newRow("batch name") << "www.example.bat";
    QTest::newRow("single word") << "notepad";
    QTest::newRow("localhost") << "localhost";
    QTest::newRow("option") << "--help";
    QTest::newRow("no host") << "http:///etc/passwd";
    QTest::newRow("opaque http") << "http:foo";
    QTest::newRow("scheme relative") << "//www.example.jp/";
    QTest::newRow("second line") << "http://www.example.jp/\nfile:///etc/passwd";
    QTest::newRow("blank inside") << "www.example.jp/a b";
    QTest::newRow("user at host") << "user@www.example.jp";
}

void TestLaunchTargets::homeTarget_refusesEverythingElse()
{
    QFETCH(QString, home);

    const std::optional<QUrl> url = homeTarget(home);
    QVERIFY2(!url.has_value(), qPrintable(url ? url->toString() : QString()));
}

void TestLaunchTargets::shellOpen_goesToInstalledHandler()
{
    QList<QUrl> opened;
    {
        const ScopedHook recording(setShellOpenHandler, [&opened](const QUrl &url) { opened << url; });
        QVERIFY(!recording.previous()); // the desktop itself is the default

        ShellOpen(QUrl(QStringLiteral("http://www.example.jp/")));
        ShellOpen(mailTarget(QStringLiteral("a@example.jp")));
        QCOMPARE(opened, (QList<QUrl>{QUrl(QStringLiteral("http://www.example.jp/")),
                                      QUrl(QStringLiteral("mailto:a@example.jp"))}));
    }
    // The scope put the desktop back.
    const ShellOpenHandler after = setShellOpenHandler({});
    QVERIFY(!after);
}

QTEST_GUILESS_MAIN(TestLaunchTargets)
#include "tst_launchtargets.moc"
