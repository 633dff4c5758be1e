#pragma once

#include "store/addressbook.h"
#include "store/settings.h"

#include <QMainWindow>

class AddressListModel;
class QAction;
class QHeaderView;
class QMenu;
class QTabWidget;
class QToolBar;
class QToolButton;
class QTreeView;
class QTimer;
class OuterBounds;
class TInputDlg;

// The main window: both lists on their tabs, the menus and tool bar, and every command handler.
// Handlers run inside guarded(): an error is reported and the window goes on.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Builds the window and runs FormCreate (paths, lists, settings) with files in programDirectory
    // (by default the running program's folder).
    explicit TMainForm(const QString &programDirectory = QString(), QWidget *parent = nullptr);
    ~TMainForm() override;

    void setInputDlg(TInputDlg *dialog) { InputDlg = dialog; }

    AddressBook &book() { return book_; }
    AddressListModel *model(int list) const { return page(list).model; }

private:
    // A list's page: its tab, the view on it and the model the view shows of the list.
    struct ListPage {
        QWidget *tab = nullptr;
        QTreeView *view = nullptr;
        AddressListModel *model = nullptr;
    };
    ListPage pages_[2];
    const ListPage &page(int list) const { return pages_[list - 1]; } // list: 1 or 2

public:
    // Parts, by the names users and tests know them.
    QWidget *CoolBar1 = nullptr;
    QToolBar *ToolBar1 = nullptr;
    QTabWidget *PageControl1 = nullptr;
    QWidget *&TabSheet1 = pages_[0].tab, *&TabSheet2 = pages_[1].tab;
    QTreeView *&ListView1 = pages_[0].view, *&ListView2 = pages_[1].view;
    QMenu *File1 = nullptr, *Edit1 = nullptr, *Execute1 = nullptr, *Help1 = nullptr;
    QAction *MakePorMem1 = nullptr, *Exit1 = nullptr;
    QAction *New1 = nullptr, *Modify1 = nullptr, *Up1 = nullptr, *Down1 = nullptr, *Delete1 = nullptr;
    QAction *Mail1 = nullptr, *Home1 = nullptr, *PorTop1 = nullptr, *About1 = nullptr;
    QToolButton *New3 = nullptr, *Up3 = nullptr, *Down3 = nullptr, *Mail3 = nullptr, *Home3 = nullptr,
                *PorTop3 = nullptr;
    TInputDlg *InputDlg = nullptr;

    // Command handlers.
    void FormCreate(const QString &folder);
    // Saves lists then settings; false when a save failed (already reported) or the user chose to
    // stay because a list's changes could not be saved.
    bool FormCloseQuery();
    bool isClosing() const { return closing_; } // a close query is running (it may be showing a box)
    void File1Click();
    void Edit1Click();
    void Execute1Click();
    void MakePorMem1Click();
    void Exit1Click();
    void New1Click();
    void Modify1Click();
    void Delete1Click();
    void Up1Click();
    void Down1Click();
    void Mail1Click();
    void Home1Click();
    void PorTop1Click();
    void About1Click();
    void ListView1DblClick();
    void ListView2DblClick();

    // The running copy is asked to come to the front by a second start.
    void bringToFront(const QByteArray &activationToken);

    // The window's outer bounds as the settings keep them. Top and Left are empty where the window
    // system tells no positions and none was read.
    std::optional<int> outerTop() const;
    std::optional<int> outerLeft() const;
    int outerWidth() const;
    int outerHeight() const;

    static QString topPageAddress();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    void buildToolBar();
    void buildPage(int list);
    int activeListNumber() const;
    AddressListModel *activeModel() const { return page(activeListNumber()).model; }
    QTreeView *activeView() const { return page(activeListNumber()).view; }
    int selectedRow() const; // -1 when the active list has no selected row
    void PrepareNew();
    void PrepareModify(int row);
    AddressEntry ReadDialog() const;
    void MoveSelected(int direction);
    void openField(Field field);

    AddressBook book_;
    bool settingsRead_ = false;
    bool closing_ = false;

    OuterBounds *bounds_ = nullptr; // what the settings keep of the window's place and size

    // The settings read, applied one value at a time in the file's order; what a close writes.
    void applySettings(const WindowSettings &settings);
    WindowSettings currentSettings() const;
    // A stored column width that the header cannot show as it is (a negative one shows as none) is
    // written back as read for as long as the column keeps the width it was shown with.
    struct KeptWidth {
        const QHeaderView *header;
        int column, stored, shown;
    };
    QList<KeptWidth> keptWidths_;

    QTimer *hintTimer_ = nullptr;
    QTreeView *hintView_ = nullptr;
};
