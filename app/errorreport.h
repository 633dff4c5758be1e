#pragma once

#include "store/errors.h"

#include <QString>
#include <new>

// The application-wide error report: the stop-icon box with the application title, OK alone.
// The text gets a closing "." unless it is empty or ends in a control character, a blank or one
// of "!" to ".".
void ReportError(const QString &text);
QString errorReportText(const QString &text);

// Runs one command handler and reports whatever it throws; nothing ever crosses the event loop.
// EAbort is dropped silently.
template <typename Fn> void guarded(Fn &&handler) noexcept
{
    try {
        handler();
    } catch (const EAbort &) {
    } catch (const PorError &error) {
        ReportError(error.message());
    } catch (const std::bad_alloc &) {
        ReportError(messages::outOfMemory());
    } catch (const std::exception &error) {
        ReportError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ReportError(QString());
    }
}
