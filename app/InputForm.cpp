#include "app/InputForm.h"

#include "app/messageform.h"
#include "app/spinedit.h"
#include "store/cp932.h"
#include "store/errors.h"
#include "store/fieldrule.h"
#include "widgets/appearance.h"
#include "widgets/muldiv.h"
#include "widgets/windowplacement.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QValidator>
#include <algorithm>
#include <limits>

namespace {

bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar(0);
}

// A field is one line of a list file, so it can never hold a line break. Whatever brings a break
// in (a paste, a drop, an input method, code setting the text) keeps only the first line of what it
// brought. The validator sees the whole new text; the part that arrived is told apart from the text
// before it by the unchanged beginning and end, the cursor marking where the new part ends.
class FirstLineValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        if (std::none_of(input.cbegin(), input.cend(), isLineBreak)) {
            previous_ = input;
            return Acceptable;
        }
        const qsizetype end = std::clamp<qsizetype>(pos, 0, input.size());
        const qsizetype suffix = std::min(input.size() - end, previous_.size());
        const qsizetype prefixLimit = std::min(previous_.size() - suffix, end);
        qsizetype prefix = 0;
        while (prefix < prefixLimit && previous_.at(prefix) == input.at(prefix))
            ++prefix;
        QString arrived = input.mid(prefix, end - prefix);
        const auto firstBreak = std::find_if(arrived.cbegin(), arrived.cend(), isLineBreak);
        arrived.truncate(firstBreak - arrived.cbegin());
        QString result = input.left(prefix) + arrived + input.right(input.size() - end);
        result.removeIf(isLineBreak); // in case the text before was not the one seen last
        pos = int(std::min<qsizetype>(prefix + arrived.size(), result.size()));
        input = result;
        previous_ = input;
        return Acceptable;
    }

private:
    mutable QString previous_;
};

const char *const labelCaptions[] = {"ぽるてNo.", "ハンドル ：", "メルアド ：", "ホーム ：",
                                     "ＩＣＱ ：", "ポスペ ：",   "メモ ："};

// Design geometry at 96 dpi: left, top, width, height.
struct Box {
    int left, top, width, height;
};
const Box labelBoxes[] = {{16, 16, 50, 16},  {16, 48, 56, 16},  {16, 72, 54, 16}, {16, 96, 49, 16},
                          {16, 120, 36, 16}, {16, 144, 47, 16}, {16, 168, 34, 16}};
const Box spinBox = {80, 16, 65, 21};
const int editLeft = 80, editTop = 48, editStep = 24, editWidth = 281, editHeight = 20;
const Box okBox = {48, 208, 121, 23};
const Box cancelBox = {208, 208, 121, 23};
const int clientWidth = 386, clientHeight = 243;

TInputDlg::ModalHook &modalHook()
{
    static TInputDlg::ModalHook hook;
    return hook;
}

} // namespace

TInputDlg::TInputDlg(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("ぽるてアドレス帳：入力"));
    setWindowModality(Qt::ApplicationModal);

    // Laid out for 96 dpi; other densities scale every size, the font included.
    const int dpi = logicalDpiY() > 0 ? logicalDpiY() : 96;
    const auto scaled = [dpi](int v) { return MulDiv(v, dpi, 96); };
    const auto place = [&scaled](QWidget *w, const Box &b) {
        w->setGeometry(scaled(b.left), scaled(b.top), scaled(b.width), scaled(b.height));
    };
    QFont font = programFont();
    font.setPixelSize(scaled(12));
    setFont(font);
    setFixedSize(scaled(clientWidth), scaled(clientHeight));

    QLabel **labels[] = {&StaticText1, &StaticText2, &StaticText3, &StaticText4,
                         &StaticText5, &StaticText6, &StaticText7};
    QLineEdit **edits[] = {&Edit1, &Edit2, &Edit3, &Edit4, &Edit5, &Edit6};

    // Created in tab order, so the focus chain follows it before setTabOrder makes it explicit.
    for (int i = 0; i < 7; ++i) {
        QLabel *label = new QLabel(QString::fromUtf8(labelCaptions[i]), this);
        label->setObjectName(QStringLiteral("StaticText%1").arg(i + 1));
        label->setFocusPolicy(Qt::NoFocus);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        place(label, labelBoxes[i]);
        *labels[i] = label;
        if (i == 0) {
            SpinEdit1 = new TSpinEdit(this);
            SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
            place(SpinEdit1, spinBox);
            SpinEdit1->setValue(1);
        }
    }
    for (int i = 0; i < 6; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
        place(edit, {editLeft, editTop + i * editStep, editWidth, editHeight});
        // No limit of its own: a long stored field must come back whole, not cut at 32767.
        edit->setMaxLength(std::numeric_limits<int>::max());
        edit->setValidator(new FirstLineValidator(edit));
        connect(edit, &QLineEdit::textChanged, this, [this, i] {
            // Text set by code replaces the stored field; typing keeps it, to compare on reading.
            if (settingBytes_ != i && !this->edit(i)->isModified())
                stored_[i].known = false;
        });
        *edits[i] = edit;
    }
    Button1 = new QPushButton(QStringLiteral("ＯＫ"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("キャンセル"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    for (QPushButton *button : {Button1, Button2}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    place(Button1, okBox);
    place(Button2, cancelBox);
    connect(Button1, &QPushButton::clicked, this, [this] {
        if (validate())
            done(int(ModalResult::Ok));
    });
    connect(Button2, &QPushButton::clicked, this, [this] { done(int(ModalResult::Cancel)); });

    // Screen readers name each field by its label, without the colon and with "ＩＣＱ" read as "ICQ".
    StaticText1->setBuddy(SpinEdit1);
    SpinEdit1->setAccessibleName(StaticText1->text());
    for (int i = 0; i < 6; ++i) {
        editLabel(i)->setBuddy(edit(i));
        edit(i)->setAccessibleName(fieldName(i).normalized(QString::NormalizationForm_KC));
    }

    QWidget *order[] = {SpinEdit1, Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Button1, Button2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    for (QWidget *control : order)
        control->installEventFilter(this);
}

QLineEdit *TInputDlg::edit(int index) const
{
    QLineEdit *const edits[] = {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6};
    return index >= 0 && index < 6 ? edits[index] : nullptr;
}

QLabel *TInputDlg::editLabel(int index) const
{
    QLabel *const labels[] = {StaticText2, StaticText3, StaticText4, StaticText5, StaticText6, StaticText7};
    return index >= 0 && index < 6 ? labels[index] : nullptr;
}

QString TInputDlg::fieldName(int index) const
{
    QString name = editLabel(index)->text();
    name.remove(QStringLiteral("："));
    return name.trimmed();
}

ModalResult TInputDlg::showModal()
{
    if (const ModalHook &hook = modalHook())
        return hook(*this);

    if (!shownBefore_) {
        windowplacement::centreOnScreen(this, true);
        shownBefore_ = true;
    } else {
        move(lastPosition_);
    }

    QWidget *target = lastFocus_;
    if (!target || !target->isVisibleTo(this) || !target->isEnabled())
        target = SpinEdit1->isVisibleTo(this) ? static_cast<QWidget *>(SpinEdit1) : Edit1;
    target->setFocus(Qt::TabFocusReason);

    return exec() == int(ModalResult::Ok) ? ModalResult::Ok : ModalResult::Cancel;
}

void TInputDlg::reject()
{
    done(int(ModalResult::Cancel));
}

void TInputDlg::done(int result)
{
    lastPosition_ = pos();
    lastFocus_ = focusWidget();
    QDialog::done(result);
}

void TInputDlg::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        // No cancel button: Escape leaves the dialog open.
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Buttons that are not default ignore Enter themselves; a focused button still answers it.
        if (focusWidget() == Button1 || focusWidget() == Button2)
            static_cast<QPushButton *>(focusWidget())->click();
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool TInputDlg::eventFilter(QObject *watched, QEvent *event)
{
    // A control hidden between two openings no longer gets the focus back.
    if (event->type() == QEvent::HideToParent && lastFocus_) {
        auto *control = qobject_cast<QWidget *>(watched);
        if (control && (control == lastFocus_ || control->isAncestorOf(lastFocus_)))
            lastFocus_.clear();
    }
    return QDialog::eventFilter(watched, event);
}

void TInputDlg::setEditBytes(int index, const QByteArray &bytes)
{
    QLineEdit *field = edit(index);
    if (!field)
        return;
    StoredField &stored = stored_[size_t(index)];
    settingBytes_ = index;
    field->setText(cp932::decode(bytes));
    settingBytes_ = -1;
    stored.known = true;
    stored.bytes = bytes;
    stored.text = field->text();
}

bool TInputDlg::keepsStoredBytes(int index) const
{
    const StoredField &stored = stored_[size_t(index)];
    return stored.known && edit(index)->text() == stored.text;
}

std::optional<QString> TInputDlg::problemWith(int index) const
{
    if (keepsStoredBytes(index))
        return std::nullopt;
    const QString text = edit(index)->text();
    const QString name = fieldName(index);
    // U+001A stands for bytes that could not be read; saving it would replace them for good.
    if (text.contains(QChar(0x1A)))
        return QStringLiteral(
                   "「%1」に読み取れなかった文字が含まれています。その文字を消してから保存してください。")
            .arg(name);
    const StorableField kept = storableField(textFields[index], text);
    switch (kept.problem) {
    case FieldProblem::None:
        return std::nullopt;
    case FieldProblem::NotCp932:
        return QStringLiteral("「%1」には保存できない文字「%"
                              "2」が含まれています。その文字を消すか、別の文字に置き換えてください。")
            .arg(name, kept.offending);
    case FieldProblem::TooLong:
        return QStringLiteral("「%1」が長すぎます（%2 バイト）。%3 バイト以内にしてください。")
            .arg(name)
            .arg(cp932::encode(text).value_or(QByteArray()).size())
            .arg(maxFieldBytes);
    case FieldProblem::BreaksLine:
        break;
    }
    return messages::fieldBreaksLine();
}

QByteArray TInputDlg::editBytes(int index) const
{
    if (!edit(index))
        return QByteArray();
    if (keepsStoredBytes(index))
        return stored_[size_t(index)].bytes;
    if (const std::optional<QString> problem = problemWith(index))
        throw PorError(*problem);
    return storableField(textFields[index], edit(index)->text()).bytes;
}

bool TInputDlg::validate()
{
    for (int i = 0; i < 6; ++i) {
        if (const std::optional<QString> problem = problemWith(i)) {
            MessageDialog(*problem, MsgDlgType::Warning, MsgDlgBtn::OK, 0);
            edit(i)->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    return true;
}

TInputDlg::ModalHook TInputDlg::setModalHook(ModalHook hook)
{
    ModalHook previous = std::move(modalHook());
    modalHook() = std::move(hook);
    return previous;
}
