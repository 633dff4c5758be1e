#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <functional>

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
    int ShowModal();

    // Edit1..Edit6 by index 0..5: set from stored bytes, and read back as bytes. A field whose text
    // was not changed gives back exactly the bytes it was set from.
    void SetEditBytes(int index, const QByteArray &bytes);
    QByteArray EditBytes(int index) const;

    // True when every edit can be stored; otherwise tells the user which field cannot and why.
    bool Validate();

    // Tests answer the dialog through this hook instead of showing it.
    using ModalHook = std::function<int(TInputDlg &)>;
    static ModalHook SetModalHook(ModalHook hook);
};
