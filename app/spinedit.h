#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;
class QTimer;

// A numeric field that keeps any text: its value is read from the text each time (an integer text
// reads as itself, unclamped; anything else reads as MinValue), setting clamps and writes plain
// decimal. Up/Down keys and two arrow buttons step it. Screen readers see a spin box with its value;
// its accessible name also names the typing area inside, which is what holds the focus.
class TSpinEdit : public QWidget {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    int MinValue = 0;
    int MaxValue = 99;
    int Increment = 1;

    int Value() const;
    void setValue(int value);
    QString text() const;
    void setText(const QString &text);
    QLineEdit *lineEdit() const { return edit_; }
    QToolButton *upButton() const { return up_; }
    QToolButton *downButton() const { return down_; }
    void setAccessibleName(const QString &name);

    // Width of each arrow button, and the gap between the typing area and the buttons.
    static constexpr int ButtonWidth = 15;
    static constexpr int TextGap = 2;

signals:
    // A typed character (or Enter) was dropped; the beep has sounded.
    void keyRefused();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void step(int direction);
    bool acceptsTyped(const QString &text) const;
    void refuse();
    void repeatStep();

    QLineEdit *edit_ = nullptr;
    QToolButton *up_ = nullptr;
    QToolButton *down_ = nullptr;
    QTimer *repeat_ = nullptr;
    QToolButton *held_ = nullptr; // the arrow button the mouse pressed, while it stays pressed
};
