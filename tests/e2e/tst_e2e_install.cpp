// The per-user install: `cmake --install` into a prefix whose path holds a blank and Japanese
// text, the tree it leaves, the menu entry and AppStream file as the desktop's validators see them,
// the installed `poraddr` command (the launcher, which becomes the program when no sync is set up)
// started under a window manager, and an upgrade and an uninstall over a program folder that holds
// an address book and its sync's files.

#include "x11session.h"

#include <QDirIterator>

using namespace e2e;

namespace {

const QString appId = QStringLiteral("jp.example.PorAddr");

QString cmake()
{
    return qEnvironmentVariable("PORADDR_CMAKE", QStringLiteral("cmake"));
}

QString buildDir()
{
    return qEnvironmentVariable("PORADDR_BINARY_DIR");
}

// Width and height from a PNG file's header.
QSize pngSize(const QByteArray &png)
{
    if (png.size() < 24 || !png.startsWith("\x89PNG\r\n\x1a\n"))
        return {};
    auto bigEndian = [&](int at) {
        return int((uchar(png[at]) << 24) | (uchar(png[at + 1]) << 16) | (uchar(png[at + 2]) << 8) |
                   uchar(png[at + 3]));
    };
    return {bigEndian(16), bigEndian(20)};
}

// The value of a key in the menu entry's [Desktop Entry] group.
QString entryValue(const QByteArray &entry, const QByteArray &key)
{
    for (const QByteArray &line : entry.split('\n'))
        if (line.startsWith(key + '='))
            return QString::fromUtf8(line.mid(key.size() + 1)).trimmed();
    return {};
}

// The address book as a user's old machine left it: Shift-JIS, one byte that is not valid text.
const QList<QPair<QString, QByteArray>> &addressBook()
{
    static const QList<QPair<QString, QByteArray>> files{
        {QStringLiteral("PorAddr1.lst"),
         listFile({"3", "\x82\xdb\x82\xe9\x82\xc4", "porte@example.jp", "", "", "", "\x80 memo"})},
        {QStringLiteral("PorAddr2.lst"), listFile({"Hanako", "", "http://hanako.example.jp/", "", "", ""})},
        {QStringLiteral("PorAddr.ini"),
         "[Position]\r\nTop=10\r\nLeft=20\r\nWidth=500\r\nHeight=300\r\n; kept as written\r\n"},
        {QStringLiteral("PorMem.txt"), listFile({"3", "\x82\xdb\x82\xe9\x82\xc4"})},
        {QStringLiteral("PorAddrSync.ini"),
         "[Server]\r\nURL=http://127.0.0.1:9/\r\nUser=taro\r\n[List1]\r\nCollection=http://"
         "127.0.0.1:9/taro/friends/\r\n"},
        {QStringLiteral("PorAddrSync.state"), "state kept by the last sync\n"},
        {QStringLiteral("PorAddrSync-conflicts.vcf"), "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:x\r\nEND:VCARD\r\n"},
    };
    return files;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!buildDir().isEmpty(), "PORADDR_BINARY_DIR is not set");
        QVERIFY(root_.isValid());
        prefix_ = root_.filePath(QString::fromUtf8("my apps ソフト"));
        programDir_ = prefix_ + QStringLiteral("/lib/poraddr");
        QVERIFY2(install(), qPrintable(installOutput_));
        session_ = std::make_unique<X11Session>();
        E2E_REQUIRE_SESSION(*session_);
    }
    void cleanupTestCase() { session_.reset(); }

    void installedTree_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("iconSize"); // 0: not a picture

        QTest::newRow("program") << "lib/poraddr/PorAddr" << 0;
        QTest::newRow("vCard tool") << "lib/poraddr/poraddr-vcard" << 0;
        QTest::newRow("sync tool") << "lib/poraddr/poraddr-sync" << 0;
        QTest::newRow("launcher") << "lib/poraddr/poraddr-launch" << 0;
        QTest::newRow("sync setup window") << "lib/poraddr/poraddr-sync-setup" << 0;
        QTest::newRow("menu entry") << "share/applications/" + appId + ".desktop" << 0;
        QTest::newRow("sync setup menu entry") << "share/applications/" + appId + ".SyncSetup.desktop" << 0;
        QTest::newRow("AppStream") << "share/metainfo/" + appId + ".metainfo.xml" << 0;
        QTest::newRow("scalable icon") << "share/icons/hicolor/scalable/apps/" + appId + ".svg" << 0;
        for (int size : {16, 24, 32, 48, 64, 128, 256})
            QTest::addRow("icon %d", size)
                << QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId) << size;
    }
    void installedTree()
    {
        QFETCH(QString, path);
        QFETCH(int, iconSize);
        const QFileInfo info(prefix_ + QLatin1Char('/') + path);
        QVERIFY2(info.isFile(), qPrintable(path + QStringLiteral(" was not installed")));
        if (path.startsWith(QLatin1String("lib/")))
            QVERIFY(info.isExecutable());
        if (iconSize > 0)
            QCOMPARE(pngSize(readBytes(info.filePath())), QSize(iconSize, iconSize));
    }

    // A relative link, so that the folder found from the program's real file is the program folder.
    // `poraddr` starts the launcher, which finds the program and the sync tool beside itself.
    void command_isALinkToTheProgram_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("program");
        QTest::newRow("poraddr") << "poraddr"
                                 << "poraddr-launch";
        QTest::newRow("poraddr-vcard") << "poraddr-vcard"
                                       << "poraddr-vcard";
        QTest::newRow("poraddr-sync") << "poraddr-sync"
                                      << "poraddr-sync";
        QTest::newRow("poraddr-sync-setup") << "poraddr-sync-setup"
                                            << "poraddr-sync-setup";
    }
    void command_isALinkToTheProgram()
    {
        QFETCH(QString, command);
        QFETCH(QString, program);
        const QFileInfo link(prefix_ + QStringLiteral("/bin/") + command);
        QVERIFY(link.isSymLink());
        QCOMPARE(link.symLinkTarget(), programDir_ + QLatin1Char('/') + program);
        QVERIFY(QFileInfo(link.filePath()).isExecutable());
        if (command == QLatin1String("poraddr-vcard")) {
            // Found through the link, the tool reads the lists of the folder it really lives in.
            const RunResult r = run(link.filePath(), {QStringLiteral("export")},
                                    QProcessEnvironment::systemEnvironment(), 30000);
            QVERIFY2(r.finished && r.exitCode == 0, qPrintable(QString::fromUtf8(r.err)));
        }
    }

    void validators_accept_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("desktop-file-validate")
            << "desktop-file-validate" << QStringList{"share/applications/" + appId + ".desktop"};
        QTest::newRow("desktop-file-validate, sync setup")
            << "desktop-file-validate" << QStringList{"share/applications/" + appId + ".SyncSetup.desktop"};
        QTest::newRow("appstreamcli validate")
            << "appstreamcli"
            << QStringList{"validate", "--no-net", "share/metainfo/" + appId + ".metainfo.xml"};
    }
    void validators_accept()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        const QString file = prefix_ + QLatin1Char('/') + args.takeLast();
        const RunResult r = run(program, args << file, QProcessEnvironment::systemEnvironment(), 60000);
        QVERIFY2(r.finished && r.exitCode == 0, qPrintable(QString::fromUtf8(r.out + r.err)));
    }

    // What the menu shows and what it starts: the name, the icon installed above, and the command
    // by its full path (quoted, for the blank in it).
    void menuEntry_startsTheCommandWithTheIcon_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("command");
        QTest::newRow("program") << appId + ".desktop" << QString::fromUtf8("ぽるてアドレス帳") << "poraddr";
        QTest::newRow("sync setup") << appId + ".SyncSetup.desktop"
                                    << QString::fromUtf8("ぽるてアドレス帳の同期設定")
                                    << "poraddr-sync-setup";
    }
    void menuEntry_startsTheCommandWithTheIcon()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(QString, command);
        const QByteArray entry = readBytes(prefix_ + "/share/applications/" + file);
        QCOMPARE(entryValue(entry, "Name"), name);
        QCOMPARE(entryValue(entry, "Icon"), appId);
        QCOMPARE(entryValue(entry, "Exec"),
                 QLatin1Char('"') + prefix_ + QStringLiteral("/bin/") + command + QLatin1Char('"'));
        QCOMPARE(entryValue(entry, "Categories"), QStringLiteral("Office;ContactManagement;"));
        QCOMPARE(entryValue(entry, "StartupNotify"), QStringLiteral("true"));
    }

    // The setup entry's command opens the setup window for the lists beside the program, of the
    // class its entry names (so the desktop ties the window to the entry).
    void syncSetupEntry_opensTheSetupWindow()
    {
        const QByteArray entry = readBytes(prefix_ + "/share/applications/" + appId + ".SyncSetup.desktop");
        QProcessEnvironment env = session_->environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QProcess setup;
        setup.setProcessEnvironment(env);
        setup.setStandardOutputFile(QProcess::nullDevice());
        setup.start(prefix_ + QStringLiteral("/bin/poraddr-sync-setup"), {});
        QVERIFY(setup.waitForStarted(10000));
        const QString window = session_->waitForWindow(
            exactly(QString::fromUtf8("ぽるてアドレス帳の同期設定")), setup.processId(), 20000);
        const RunResult wmClass =
            run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")}, env);
        setup.kill();
        setup.waitForFinished(5000);
        QVERIFY2(!window.isEmpty(), "the setup command showed no window");
        QVERIFY2(wmClass.out.contains(", \"" + entryValue(entry, "StartupWMClass").toUtf8() + "\""),
                 wmClass.out.constData());
        QVERIFY2(!QFileInfo::exists(programDir_ + QStringLiteral("/PorAddrSync.ini")),
                 "opening the setup window wrote a configuration");
    }

    // Started by its command from another folder, the program reads and writes its files beside
    // its real file, and its window carries the class the menu entry names.
    void installedCommand_keepsItsDataBesideTheProgram()
    {
        const QByteArray list1 = addressBook().at(0).second;
        writeBytes(programDir_ + QStringLiteral("/PorAddr1.lst"), list1);
        QTemporaryDir elsewhere;
        QDir(elsewhere.path()).mkdir(QStringLiteral("runtime"));
        ::chmod(QFile::encodeName(elsewhere.filePath(QStringLiteral("runtime"))).constData(), 0700);

        QProcessEnvironment env = session_->environment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), elsewhere.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("HOME"), elsewhere.path());
        env.insert(QStringLiteral("PATH"),
                   prefix_ + QStringLiteral("/bin:") + env.value(QStringLiteral("PATH")));
        QProcess program;
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(elsewhere.path());
        program.setStandardOutputFile(QProcess::nullDevice());
        program.start(prefix_ + QStringLiteral("/bin/poraddr"), {});
        QVERIFY(program.waitForStarted(10000));
        struct Ender {
            QProcess &p;
            ~Ender()
            {
                if (p.state() != QProcess::NotRunning) {
                    p.kill();
                    p.waitForFinished(5000);
                }
            }
        } ender{program};

        // The launcher, with no sync set up, has become the program: the window is of its process.
        const QString window = session_->waitForWindow(exactly(mainTitle()), program.processId(), 20000);
        QVERIFY2(!window.isEmpty(), "the installed command showed no main window");
        const RunResult wmClass =
            run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("WM_CLASS")}, env);
        const QByteArray entry = readBytes(prefix_ + "/share/applications/" + appId + ".desktop");
        const QString startupClass = entryValue(entry, "StartupWMClass");
        QVERIFY(!startupClass.isEmpty());
        QVERIFY2(wmClass.out.contains(", \"" + startupClass.toUtf8() + "\""),
                 qPrintable(QStringLiteral("window class %1, menu entry names %2")
                                .arg(QString::fromLatin1(wmClass.out.trimmed()), startupClass)));

        QCOMPARE(
            run(QStringLiteral("wmctrl"), {QStringLiteral("-i"), QStringLiteral("-c"), window}, env).exitCode,
            0);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(QFileInfo(programDir_ + QStringLiteral("/PorAddr.ini")).isFile(),
                 "the close wrote no settings beside the program");
        QCOMPARE(readBytes(programDir_ + QStringLiteral("/PorAddr1.lst")), list1);
        for (const QString &wrong : {prefix_ + QStringLiteral("/bin"), elsewhere.path()})
            QVERIFY2(!QFileInfo::exists(wrong + QStringLiteral("/PorAddr.ini")),
                     qPrintable(QStringLiteral("settings written into ") + wrong));
    }

    // Installing again replaces the program and leaves the address book (and the sync's
    // configuration, state and conflicts) byte for byte; the uninstall removes everything installed,
    // the launcher and the sync tool among it, and leaves the address book too.
    void upgradeAndUninstall_leaveTheAddressBook()
    {
        for (const auto &[name, bytes] : addressBook())
            writeBytes(programDir_ + QLatin1Char('/') + name, bytes);
        const QString program = programDir_ + QStringLiteral("/PorAddr");
        const QByteArray built = readBytes(buildDir() + QStringLiteral("/PorAddr"));
        writeBytes(program, "an older program");

        QVERIFY2(install(), qPrintable(installOutput_));
        QVERIFY2(readBytes(program) == built, "installing again did not replace the program");
        for (const auto &[name, bytes] : addressBook())
            QVERIFY2(readBytes(programDir_ + QLatin1Char('/') + name) == bytes,
                     qPrintable(name + QStringLiteral(" changed on upgrade")));

        const RunResult removed = run(
            cmake(),
            {QStringLiteral("--build"), buildDir(), QStringLiteral("--target"), QStringLiteral("uninstall")},
            QProcessEnvironment::systemEnvironment(), 120000);
        QVERIFY2(removed.finished && removed.exitCode == 0,
                 qPrintable(QString::fromUtf8(removed.out + removed.err)));
        for (const auto &[name, bytes] : addressBook())
            QVERIFY2(readBytes(programDir_ + QLatin1Char('/') + name) == bytes,
                     qPrintable(name + QStringLiteral(" changed on uninstall")));
        QStringList left;
        QDirIterator it(prefix_, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            left << QDir(prefix_).relativeFilePath(it.next());
        left.sort();
        QStringList expected;
        for (const auto &file : addressBook())
            expected << QStringLiteral("lib/poraddr/") + file.first;
        expected.sort();
        QCOMPARE(left, expected);
        QVERIFY(!QFileInfo(prefix_ + QStringLiteral("/bin/poraddr")).isSymLink());
        QVERIFY(!QFileInfo(prefix_ + QStringLiteral("/bin/poraddr-vcard")).isSymLink());
        QVERIFY(!QFileInfo(prefix_ + QStringLiteral("/bin/poraddr-sync")).isSymLink());
        QVERIFY(!QFileInfo(prefix_ + QStringLiteral("/bin/poraddr-sync-setup")).isSymLink());
    }

private:
    bool install()
    {
        const RunResult r =
            run(cmake(), {QStringLiteral("--install"), buildDir(), QStringLiteral("--prefix"), prefix_},
                QProcessEnvironment::systemEnvironment(), 120000);
        installOutput_ = QString::fromUtf8(r.out + r.err);
        return r.finished && r.exitCode == 0;
    }

    QTemporaryDir root_{QStringLiteral("/tmp/poraddr-install-XXXXXX")};
    QString prefix_, programDir_, installOutput_;
    std::unique_ptr<X11Session> session_;
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_e2e_install.moc"
