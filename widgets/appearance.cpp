#include "widgets/appearance.h"

#include <QFontDatabase>

namespace {
const QString programFace = QStringLiteral("ＭＳ Ｐゴシック");

void registerSubstitutes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (!QFontDatabase::hasFamily(programFace))
        QFont::insertSubstitutions(programFace,
                                   {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                                    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL PGothic")});
}
} // namespace

QFont programFont()
{
    registerSubstitutes();
    QFont font(programFace);
    font.setPixelSize(12);
    return font;
}

QIcon programIcon()
{
    Q_INIT_RESOURCE(images);
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/icon32.png"));
    icon.addFile(QStringLiteral(":/images/icon64.png"));
    return icon;
}

QPixmap programPicture()
{
    Q_INIT_RESOURCE(images);
    return QPixmap(QStringLiteral(":/images/icon32.png"));
}

QPixmap coolBarBackground()
{
    Q_INIT_RESOURCE(images);
    return QPixmap(QStringLiteral(":/images/coolbar.png"));
}
