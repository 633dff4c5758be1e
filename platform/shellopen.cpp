#include "platform/shellopen.h"

#include <QDesktopServices>

namespace {
ShellOpenHandler &currentHandler()
{
    static ShellOpenHandler handler;
    return handler;
}
} // namespace

void ShellOpen(const QUrl &target)
{
    // The desktop starts its program on its own; whether it could is not our business, so the
    // result of openUrl is dropped on purpose.
    if (const ShellOpenHandler &handler = currentHandler())
        handler(target);
    else
        QDesktopServices::openUrl(target);
}

ShellOpenHandler setShellOpenHandler(ShellOpenHandler handler)
{
    ShellOpenHandler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}
