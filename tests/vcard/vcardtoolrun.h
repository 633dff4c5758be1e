#pragma once

#include "support/storetest.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtTest>

// Runs the built poraddr-vcard with the C locale (English messages) unless environment says otherwise.
struct ToolRun {
    int exitCode = -1;
    QByteArray out, err;
};

inline QString toolPath()
{
    return qEnvironmentVariable("PORADDR_BINARY_DIR") + QStringLiteral("/poraddr-vcard");
}

inline ToolRun runTool(const QStringList &args, const QStringList &environment = {},
                       const QString &standardOutputFile = {})
{
    QProcess process;
    if (!standardOutputFile.isEmpty())
        process.setStandardOutputFile(standardOutputFile);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C"));
    for (const QString &setting : environment)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(env);
    process.start(toolPath(), args);
    ToolRun run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

using storetest::listFile;
