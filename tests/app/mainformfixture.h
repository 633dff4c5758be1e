#pragma once

#include "app/AddrMain.h"
#include "app/InputForm.h"
#include "app/messageform.h"
#include "platform/shellopen.h"
#include "support/scopedhook.h"

#include <QList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>
#include <optional>

// A main window over a program folder of its own, with every modal answered by the test: the entry
// dialog through its hook, message boxes through the answerer, the desktop through a recorder.
struct MainFormFixture {
    QTemporaryDir dir;
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TInputDlg> dialog;
    QList<MessageRequest> messages;
    QList<ModalResult> answers; // answers to message dialogs, in order; OK when none is left
    QList<QUrl> opened;
    ScopedHook<MessageAnswerer> answering{setMessageAnswerer, [this](const MessageRequest &request) {
                                              messages.append(request);
                                              return answers.isEmpty() ? ModalResult::Ok
                                                                       : answers.takeFirst();
                                          }};
    ScopedHook<ShellOpenHandler> recording{setShellOpenHandler,
                                           [this](const QUrl &url) { opened.append(url); }};
    std::optional<ScopedHook<TInputDlg::ModalHook>> scripting;

    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
    QString folder() const { return dir.path() + QLatin1Char('/'); }

    TMainForm &open()
    {
        form = std::make_unique<TMainForm>(folder());
        dialog = std::make_unique<TInputDlg>(form.get());
        form->setInputDlg(dialog.get());
        return *form;
    }

    // The entry dialog answers with result after fill has set its controls.
    void answerDialog(std::function<void(TInputDlg &)> fill, ModalResult result)
    {
        auto hook = [fill, result](TInputDlg &dlg) {
            if (fill)
                fill(dlg);
            return result;
        };
        if (scripting)
            TInputDlg::setModalHook(hook); // the scope still puts back the one before the first
        else
            scripting.emplace(&TInputDlg::setModalHook, hook);
    }
};
