// poraddr-vcard against a real peer: abook (Debian's package) reads our export and we read its own.
#include "vcardtoolrun.h"

#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>

using storetest::readBytes;
using storetest::writeBytes;

namespace {

// Runs abook's converter with a private home, so that no settings of the user are read or made.
bool convertWithAbook(const QString &home, const QStringList &args)
{
    QProcess abook;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    abook.setProcessEnvironment(env);
    abook.start(QStringLiteral("abook"), QStringList{QStringLiteral("--convert")} + args);
    return abook.waitForFinished(60000) && abook.exitStatus() == QProcess::NormalExit &&
           abook.exitCode() == 0;
}

// abook's own file: one "key=value" map per "[n]" section.
QList<QMap<QString, QString>> abookPeople(const QByteArray &file)
{
    QList<QMap<QString, QString>> people;
    bool inPerson = false;
    for (const QByteArray &rawLine : file.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inPerson = line != QLatin1String("[format]");
            if (inPerson)
                people.append(QMap<QString, QString>());
        } else if (inPerson && line.contains(QLatin1Char('='))) {
            people.last().insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
        }
    }
    return people;
}

} // namespace

class TestVcardAbook : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void abookReadsOurExport();
    void abookExportImportsHere();

private:
    QTemporaryDir home_;
};

void TestVcardAbook::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("abook")).isEmpty(),
             "abook is not installed (scripts/install-deps.sh installs it)");
}

void TestVcardAbook::abookReadsOurExport()
{
    QTemporaryDir dir;
    // Both lists; Japanese and ASCII handles, fields present and empty.
    writeBytes(dir.filePath(QStringLiteral("PorAddr1.lst")),
               listFile({"5", "\x82\xbd\x82\xeb\x82\xa4", "taro@example.jp", "http://example.jp/~taro/",
                         "12345", "taro@pp.example.jp", "\x8d\x82\x8d\x5a", "9", "pochi",
                         "pochi@example.ne.jp", "", "", "", ""}));
    writeBytes(dir.filePath(QStringLiteral("PorAddr2.lst")),
               listFile({"\x89\xd4\x8e\x71\x81\x40\xb1\xb2\xb3", "hanako@example.jp",
                         "https://example.jp/hanako/", "", "hanako@pp.example.jp", ""}));
    const QString vcf = dir.filePath(QStringLiteral("friends.vcf"));
    const QString converted = dir.filePath(QStringLiteral("friends.abook"));
    QCOMPARE(runTool({QStringLiteral("export"), dir.path(), QStringLiteral("-o"), vcf}).exitCode, 0);
    QVERIFY(
        convertWithAbook(home_.path(), {QStringLiteral("--informat"), QStringLiteral("vcard"),
                                        QStringLiteral("--infile"), vcf, QStringLiteral("--outformat"),
                                        QStringLiteral("abook"), QStringLiteral("--outfile"), converted}));

    const QList<QMap<QString, QString>> people = abookPeople(readBytes(converted));
    QCOMPARE(people.size(), 3);
    const struct {
        QString name, email, url;
    } expected[] = {
        {QStringLiteral("たろう"), QStringLiteral("taro@example.jp,taro@pp.example.jp"),
         QStringLiteral("http://example.jp/~taro/")},
        {QStringLiteral("pochi"), QStringLiteral("pochi@example.ne.jp"), QString()},
        {QStringLiteral("花子　ｱｲｳ"), QStringLiteral("hanako@example.jp,hanako@pp.example.jp"),
         QStringLiteral("https://example.jp/hanako/")},
    };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(people[i].value(QStringLiteral("name")), expected[i].name);
        QCOMPARE(people[i].value(QStringLiteral("email")), expected[i].email);
        QCOMPARE(people[i].value(QStringLiteral("url")), expected[i].url);
    }
}

void TestVcardAbook::abookExportImportsHere()
{
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("addressbook"));
    const QString vcf = dir.filePath(QStringLiteral("from-abook.vcf"));
    writeBytes(book, "# abook addressbook file\n\n[format]\nprogram=abook\nversion=0.6.1\n\n"
                     "[0]\nname=山田 太郎\nemail=taro@example.jp,taro2@example.jp\nnick=taro\n"
                     "url=http://example.jp/~taro/\nnotes=高校の同級生\nphone=03-1234-5678\n\n"
                     "[1]\nname=Hanako ｱｲｳ\nemail=hanako@example.jp\n");
    QVERIFY(convertWithAbook(home_.path(), {QStringLiteral("--informat"), QStringLiteral("abook"),
                                            QStringLiteral("--infile"), book, QStringLiteral("--outformat"),
                                            QStringLiteral("vcard"), QStringLiteral("--outfile"), vcf}));

    const ToolRun run = runTool({QStringLiteral("import"), vcf, dir.path()});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray("Imported 2 people into list 2; 0 cards refused\n"));
    QCOMPARE(readBytes(dir.filePath(QStringLiteral("PorAddr2.lst"))),
             listFile({"\x8e\x52\x93\x63 \x91\xbe\x98\x59", "taro@example.jp", "http://example.jp/~taro/", "",
                       "", "\x8d\x82\x8d\x5a\x82\xcc\x93\xaf\x8b\x89\x90\xb6", "Hanako \xb1\xb2\xb3",
                       "hanako@example.jp", "", "", "", ""}));
}

QTEST_GUILESS_MAIN(TestVcardAbook)
#include "tst_vcardabook.moc"
