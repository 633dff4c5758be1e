#pragma once

#include <QUrl>
#include <functional>

// Hands a target to the desktop's open operation (mail program, browser); never through a shell
// command line. The result is not examined.
void ShellOpen(const QUrl &target);

// Tests replace the desktop with a recorder. Returns the handler in force before; an empty
// handler restores the desktop.
using ShellOpenHandler = std::function<void(const QUrl &)>;
ShellOpenHandler setShellOpenHandler(ShellOpenHandler handler);
