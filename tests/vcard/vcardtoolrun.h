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

// wrapper, where given, is the command line in front of the arguments instead of the built tool
// (setpriv and a copy of the tool, to run it as another user).
inline ToolRun runTool(const QStringList &args, const QStringList &environment = {},
                       const QString &standardOutputFile = {}, const QStringList &wrapper = {})
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
    if (wrapper.isEmpty())
        process.start(toolPath(), args);
    else
        process.start(wrapper.first(), wrapper.mid(1) + args);
    ToolRun run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

using storetest::listFile;
