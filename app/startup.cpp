#include "app/startup.h"

#include "app/AddrMain.h"
#include "app/InputForm.h"
#include "app/apptitle.h"
#include "app/closerequest.h"
#include "app/errorreport.h"
#include "app/messageform.h"
#include "platform/localeinfo.h"
#include "platform/runningcopy.h"
#include "platform/singleinstance.h"
#include "platform/terminationsignals.h"
#include "store/listfiles.h"

#include <QApplication>
#include <QFileInfo>
#include <QSessionManager>

namespace {

// How long a start waits for a companion tool that is writing the lists beside the program.
constexpr int companionWaitMs = 15000;

QByteArray activationToken()
{
    QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    if (token.isEmpty())
        token = qgetenv("DESKTOP_STARTUP_ID");
    return token;
}
} // namespace

int runPorAddr(int &argc, char **argv)
{
    QApplication app(argc, argv);
    // The desktop finds the menu entry (and its icon) by these, also when started as `poraddr`.
    QGuiApplication::setDesktopFileName(QStringLiteral(PORADDR_APP_ID));
    QCoreApplication::setApplicationName(QStringLiteral(PORADDR_WM_CLASS));
    setApplicationTitle(defaultTitle(QCoreApplication::applicationFilePath()));

    SingleInstance instance(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    switch (instance.tryAcquire()) {
    case SingleInstance::Result::AnotherRuns:
        instance.activateRunningCopy(activationToken());
        return 0;
    case SingleInstance::Result::Failed:
        PlainMessage(QString::fromUtf8("プログラムを起動できません"));
        return 0;
    case SingleInstance::Result::Acquired:
        break;
    }
    // Held for as long as the program runs: companion tools see it and leave the lists alone, and
    // one that is writing them is waited for, so the lists loaded are the ones it wrote.
    DataFolderLock dataFolder;
    if (!dataFolder.holdForProgram(programDirectory(), companionWaitMs)) {
        PlainMessage(QString::fromUtf8("プログラムを起動できません"));
        return 0;
    }

    // From here on a terminate signal waits for the event loop and closes the window as its close
    // box would, saving the lists, instead of ending the program on the spot.
    TerminationSignals terminationSignals;

    setApplicationTitle(mainTitle());
    watchLocaleChanges(&app);
    TMainForm MainForm;
    TInputDlg InputDlg(&MainForm);
    MainForm.setInputDlg(&InputDlg);

    instance.listen();
    QObject::connect(&instance, &SingleInstance::activationRequested, &MainForm, &TMainForm::bringToFront);
    // At logoff the same save runs; when it fails the logoff is refused.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &MainForm,
                     [&MainForm](QSessionManager &manager) {
                         if (!MainForm.FormCloseQuery())
                             manager.cancel();
                     });

    OutsideCloseRequest outsideClose(MainForm);
    QObject::connect(&terminationSignals, &TerminationSignals::requested, &outsideClose,
                     &OutsideCloseRequest::request);

    MainForm.show();
    app.exec();
    instance.release();
    return 0;
}
