#pragma once

#include <QObject>

class TMainForm;

// A close asked for from outside the window (a terminate signal): the same close request as the
// window's close box. Modal windows open at that moment end first as their close box ends them (the
// entry dialog cancelled, a question unanswered, the About box closed), then the close runs, after
// their handlers have seen that. While a close request runs, a further request does nothing.
class OutsideCloseRequest : public QObject {
    Q_OBJECT
public:
    explicit OutsideCloseRequest(TMainForm &form, QObject *parent = nullptr);

    void request();

private:
    TMainForm &form_;
    bool pending_ = false;
};
