#include "store/errors.h"

#include <QDir>

namespace messages {

QString cannotOpen(const QString &path)
{
    return QStringLiteral("ﾌｧｲﾙ %1 は開けません").arg(QDir::toNativeSeparators(path));
}

QString cannotCreate(const QString &path)
{
    return QStringLiteral("ﾌｧｲﾙ %1 を作成できません").arg(QDir::toNativeSeparators(path));
}

QString writeError()
{
    return QStringLiteral("ｽﾄﾘｰﾑへの書き込みｴﾗｰ");
}

QString outOfMemory()
{
    return QStringLiteral("行を挿入できません");
}

QString cannotWriteSettings(const QString &path)
{
    return QStringLiteral("%1 に書き込めません").arg(QDir::toNativeSeparators(path));
}

QString notAnInteger(const QString &text)
{
    return QStringLiteral("'%1' は整数ではありません").arg(text);
}

QString fieldBreaksLine()
{
    return QStringLiteral("改行やNUL文字を含む項目は登録できません");
}

} // namespace messages
