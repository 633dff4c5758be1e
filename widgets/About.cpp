#include "widgets/About.h"

#include "platform/localeinfo.h"
#include "platform/memorystatus.h"
#include "widgets/URLLabel.h"
#include "widgets/appearance.h"
#include "widgets/memorytext.h"
#include "widgets/windowplacement.h"

#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {
constexpr int clientWidth = 349;
constexpr int clientHeight = 260;

// Labels size themselves to their text from their top-left corner, but never below the height
// of the layout's text line.
void placeLabel(QLabel *label, int left, int top, int height = 12)
{
    label->setFocusPolicy(Qt::NoFocus);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QSize hint = label->sizeHint();
    label->setGeometry(left, top, hint.width(), qMax(height, hint.height()));
}

QLabel *textLabel(QWidget *parent, const char *name, const QString &text, int left, int top)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    placeLabel(label, left, top);
    return label;
}

TURLLabel *linkLabel(QWidget *parent, const char *name, const QString &address, TColor color, TColor hotColor,
                     int left, int top)
{
    auto *label = new TURLLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAutoFillBackground(false); // transparent over the dialog
    label->Executable = true;
    label->setFont(programFont());
    label->setFontColor(color);
    label->setHotColor(hotColor);
    label->setText(address);
    placeLabel(label, left, top);
    return label;
}
} // namespace

TAboutDlg::TAboutDlg(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(QStringLiteral("ぽるてアドレス帳のバージョン情報"));
    setFont(programFont());
    setFixedSize(clientWidth, clientHeight);
    setSizeGripEnabled(false);

    // Created in the layout's stacking order; the members are declared in the form's field order.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFocusPolicy(Qt::NoFocus);
    Image1->setPixmap(programPicture());
    Image1->setGeometry(8, 8, 32, 32);

    Label1 = textLabel(this, "Label1", QStringLiteral("ぽるてアドレス帳 for Windows95/98"), 64, 8);
    QFont bold = programFont();
    bold.setBold(true);
    Label1->setFont(bold);
    placeLabel(Label1, 64, 8);

    Label2 = textLabel(this, "Label2", QStringLiteral("第三版"), 64, 24);
    Label3 = textLabel(this, "Label3", QStringLiteral("プログラム：作者"), 64, 112);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFocusPolicy(Qt::NoFocus);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(16, 184, 321, 2);

    Label4 = textLabel(this, "Label4", QStringLiteral("Windows が使用できる物理メモリ："), 48, 192);
    Label5 = textLabel(this, "Label5", QStringLiteral("メモリ使用率："), 49, 208);
    PhysMem = textLabel(this, "PhysMem", QStringLiteral("0"), 240, 192);
    FreeRes = textLabel(this, "FreeRes", QStringLiteral("0"), 240, 208);

    AuthorURL =
        linkLabel(this, "AuthorURL", QStringLiteral("http://www.example.jp/soft/"), clBlue, clAqua, 72, 128);
    AuthorMail =
        linkLabel(this, "AuthorMail", QStringLiteral("mailto:author@example.jp"), clGreen, clLime, 72, 144);
    Label6 = textLabel(this, "Label6", QStringLiteral("マスコットの絵：絵描き担当さん"), 64, 48);
    URLLabel1 =
        linkLabel(this, "URLLabel1", QStringLiteral("http://www.example.jp/illust/"), clBlue, clAqua, 72, 64);
    Label7 =
        textLabel(this, "Label7", QStringLiteral("(C) 1998-1999 作者・絵描き担当・アイコン担当"), 64, 160);
    Label8 = textLabel(this, "Label8", QStringLiteral("アイコンデザイン：アイコン担当さん"), 64, 80);
    URLLabel2 =
        linkLabel(this, "URLLabel2", QStringLiteral("http://www.example.jp/icon/"), clBlue, clAqua, 72, 96);

    // Screen readers read each memory figure with its caption, and the picture by what it shows.
    Label4->setBuddy(PhysMem);
    Label5->setBuddy(FreeRes);
    Image1->setAccessibleName(QStringLiteral("ぽるてアドレス帳のアイコン"));

    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(248, 228, 79, 23);
    OKBtn->setDefault(true);
    OKBtn->setFocusPolicy(Qt::StrongFocus);
    connect(OKBtn, &QPushButton::clicked, this, [this] { done(int(ModalResult::Ok)); });
    OKBtn->setFocus();

    FormCreate();
}

void TAboutDlg::FormCreate()
{
    const MemoryStatus status = GlobalMemoryStatus();
    PhysMem->setText(formatKilobytes(status.totalPhys, systemThousandsSeparator()));
    placeLabel(PhysMem, 240, 192);
    FreeRes->setText(formatMemoryLoad(status.memoryLoad));
    placeLabel(FreeRes, 240, 208);
}

void TAboutDlg::reject()
{
    done(int(ModalResult::Cancel));
}

void TAboutDlg::keyPressEvent(QKeyEvent *event)
{
    // The box has no cancel button, so Escape has nothing to press.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TAboutDlg::setVisible(bool visible)
{
    // Placed before showing, so that the box never appears over its owner first; having been
    // placed, QDialog leaves the position alone. Creating the native window first lets the platform
    // report the frame where it already knows it.
    if (visible && !isVisible()) {
        create();
        windowplacement::placeByFrame(this, [this](const QMargins &frame) {
            const QScreen *screen =
                parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
            return windowplacement::centredFrame(
                screen ? screen->geometry() : windowplacement::primaryScreenArea(), size(), frame);
        });
    }
    QDialog::setVisible(visible);
}
