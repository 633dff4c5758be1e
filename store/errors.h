#pragma once

#include <QString>
#include <exception>

// An error that stops a command and is shown to the user. The message is finished text, file names
// already inserted; the error report adds the closing "." itself.
class PorError : public std::exception {
public:
    explicit PorError(QString message) : message_(std::move(message)) {}
    const QString &message() const { return message_; }
    const char *what() const noexcept override { return "PorError"; }

private:
    QString message_;
};

// Stops a command without any message; the error report drops it.
class EAbort : public std::exception {
public:
    const char *what() const noexcept override { return "EAbort"; }
};

namespace messages {
// The store's own messages. %1 is the full path of the file concerned.
QString cannotOpen(const QString &path);          // "ﾌｧｲﾙ %s は開けません"
QString cannotCreate(const QString &path);        // "ﾌｧｲﾙ %s を作成できません"
QString writeError();                             // "ｽﾄﾘｰﾑへの書き込みｴﾗｰ"
QString outOfMemory();                            // "行を挿入できません"
QString cannotWriteSettings(const QString &path); // "%s に書き込めません"
QString notAnInteger(const QString &text);        // "'%s' は整数ではありません"
QString fieldBreaksLine();                        // a field holding CR, LF or NUL
} // namespace messages
