#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// Targets built from stored fields, which may come from shared or damaged files.

// "mailto:" and the whole address, percent-encoded so that it can never start a query, a fragment
// or a header ("?", "#", "&", "%", blanks, non-ASCII as UTF-8).
QUrl mailTarget(const QString &mail);

// A web address only: http, https or ftp URLs, or a bare host name (opened as http://...).
// Local paths, "file:" and other schemes give nothing.
std::optional<QUrl> homeTarget(const QString &home);
