#pragma once

#include "widgets/modalresult.h"

#include <QByteArray>
#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class TSpinEdit;

// The entry dialog "ぽるてアドレス帳：入力", built once and reused; it keeps its contents between uses.
class TInputDlg : public QDialog {
    Q_OBJECT
public:
    explicit TInputDlg(QWidget *parent = nullptr);

    QLabel *StaticText1, *StaticText2, *StaticText3, *StaticText4, *StaticText5, *StaticText6, *StaticText7;
    TSpinEdit *SpinEdit1;
    QLineEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6;
    QPushButton *Button1, *Button2;

    // Shows the dialog modally; 1 for OK, 2 for Cancel or the close box.
    ModalResult showModal();

    // Edit1..Edit6 by index 0..5: set from stored bytes, and read back as bytes. A field whose text
    // was not changed gives back exactly the bytes it was set from.
    void setEditBytes(int index, const QByteArray &bytes);
    // Throws PorError naming the field when its text cannot be stored (Validate reports that first).
    QByteArray editBytes(int index) const;

    // True when every edit can be stored; otherwise tells the user which field cannot and why.
    bool validate();

    // Tests answer the dialog through this hook instead of showing it.
    using ModalHook = std::function<ModalResult(TInputDlg &)>;
    static ModalHook setModalHook(ModalHook hook);

    QLineEdit *edit(int index) const;
    QLabel *editLabel(int index) const;
    // The field's name as its label shows it, without the colon: "ハンドル".
    QString fieldName(int index) const;

public slots:
    void reject() override;
    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Why the edit's text cannot be stored, or nothing when it can.
    std::optional<QString> problemWith(int index) const;
    bool keepsStoredBytes(int index) const;

    struct StoredField {
        bool known = false; // set from bytes, and not replaced by code since
        QByteArray bytes;
        QString text; // the bytes as shown
    };
    std::array<StoredField, 6> stored_;
    int settingBytes_ = -1; // the edit setEditBytes is filling, whose textChanged is its own

    bool shownBefore_ = false;
    QPoint lastPosition_;
    QPointer<QWidget> lastFocus_;
};
