#include "app/AddrMain.h"

#include "app/InputForm.h"
#include "app/apptitle.h"
#include "app/errorreport.h"
#include "app/listmodel.h"
#include "app/messageform.h"
#include "app/spinedit.h"
#include "platform/launchtargets.h"
#include "platform/shellopen.h"
#include "store/cp932.h"
#include "store/errors.h"
#include "store/integertext.h"
#include "store/listfiles.h"
#include "store/memberlist.h"
#include "widgets/About.h"
#include "widgets/appearance.h"
#include "widgets/windowplacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>

#include <iterator>

namespace {
QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

constexpr int designedWidth = 480;
constexpr int designedHeight = 258;
constexpr int hintDelayMs = 500;
constexpr int hintShowMs = 2500;
constexpr int designedColumnWidths[2][7] = {{50, 60, 60, 60, 50, 50, 50}, {60, 60, 60, 50, 50, 50}};
} // namespace

TMainForm::TMainForm(const QString &programDirectory, QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(mainTitle());
    setWindowIcon(programIcon());
    setFont(programFont());
    setObjectName(QStringLiteral("MainForm"));

    buildMenus();

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildToolBar();
    layout->addWidget(CoolBar1);

    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    buildPage(1);
    buildPage(2);
    layout->addWidget(PageControl1, 1);
    // Turning the page with the keyboard in a list carries the keyboard on to the list shown.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        QWidget *focus = QApplication::focusWidget();
        if (focus == ListView1 || focus == ListView2)
            activeView()->setFocus();
    });
    setCentralWidget(central);

    hintTimer_ = new QTimer(this);
    hintTimer_->setSingleShot(true);
    hintTimer_->setInterval(hintDelayMs);
    connect(hintTimer_, &QTimer::timeout, this, [this] {
        if (hintView_) // the pointer has not left the list since it last moved
            QToolTip::showText(QCursor::pos(), text("ダブルクリックで編集"), hintView_->viewport(), QRect(),
                               hintShowMs);
    });

    // The window is created at the designed size; where it goes is the window system's choice.
    resize(designedWidth, designedHeight);
    bounds_ = new OuterBounds(this);

    // The last page is the designed active one; loading list 2 successfully turns to list 1's page.
    PageControl1->setCurrentWidget(TabSheet2);
    guarded([&] { FormCreate(programDirectory); });
    // The keyboard starts in the list that is shown, so the arrow keys select rows at once.
    activeView()->setFocus();
}

TMainForm::~TMainForm() = default;

void TMainForm::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setFont(QApplication::font("QMenuBar"));
    auto addMenu = [&](const char *caption, const char *name, void (TMainForm::*rule)()) {
        QMenu *menu = bar->addMenu(text(caption));
        menu->setObjectName(QString::fromLatin1(name));
        menu->setFont(QApplication::font("QMenu"));
        if (rule)
            connect(menu, &QMenu::aboutToShow, this, [this, rule] { guarded([&] { (this->*rule)(); }); });
        return menu;
    };
    auto addItem = [&](QMenu *menu, const char *caption, const char *name, void (TMainForm::*handler)()) {
        QAction *action = menu->addAction(text(caption));
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, [this, handler] { guarded([&] { (this->*handler)(); }); });
        return action;
    };

    File1 = addMenu("ファイル(&F)", "File1", &TMainForm::File1Click);
    MakePorMem1 =
        addItem(File1, "ぽるてソフト用リストファイル作成(&C)", "MakePorMem1", &TMainForm::MakePorMem1Click);
    File1->addSeparator();
    Exit1 = addItem(File1, "終了(&X)", "Exit1", &TMainForm::Exit1Click);

    Edit1 = addMenu("編集(&E)", "Edit1", &TMainForm::Edit1Click);
    New1 = addItem(Edit1, "新規追加(&N)", "New1", &TMainForm::New1Click);
    Modify1 = addItem(Edit1, "修正(&M)", "Modify1", &TMainForm::Modify1Click);
    Edit1->addSeparator();
    Up1 = addItem(Edit1, "上へ移動(&U)", "Up1", &TMainForm::Up1Click);
    Down1 = addItem(Edit1, "下へ移動(&L)", "Down1", &TMainForm::Down1Click);
    Edit1->addSeparator();
    Delete1 = addItem(Edit1, "削除(&D)", "Delete1", &TMainForm::Delete1Click);

    Execute1 = addMenu("実行(&E)", "Execute1", &TMainForm::Execute1Click);
    Mail1 = addItem(Execute1, "メールを送る(&M)", "Mail1", &TMainForm::Mail1Click);
    Home1 = addItem(Execute1, "ホームページを見る(&W)", "Home1", &TMainForm::Home1Click);
    Execute1->addSeparator();
    PorTop1 = addItem(Execute1, "ぽるてトップ(&U)", "PorTop1", &TMainForm::PorTop1Click);

    Help1 = addMenu("ヘルプ(&H)", "Help1", nullptr);
    About1 = addItem(Help1, "バージョン情報(&A)...", "About1", &TMainForm::About1Click);
}

void TMainForm::buildToolBar()
{
    CoolBar1 = new QWidget(this);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFixedHeight(24);
    CoolBar1->setAutoFillBackground(true);
    QPalette palette = CoolBar1->palette();
    palette.setBrush(QPalette::Window, QBrush(coolBarBackground()));
    CoolBar1->setPalette(palette);
    auto *band = new QHBoxLayout(CoolBar1);
    band->setContentsMargins(2, 2, 2, 2);
    band->setSpacing(0);

    ToolBar1 = new QToolBar(CoolBar1);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    // The band's picture shows through; captions use the whole 69 pixels of their buttons.
    ToolBar1->setStyleSheet(QStringLiteral("QToolBar { background: transparent; border: none; padding: 0px; }"
                                           "QToolButton { padding: 0px; }"));
    band->addWidget(ToolBar1);
    band->addStretch(1);

    auto addButton = [&](const char *caption, const char *name, void (TMainForm::*handler)()) {
        auto *button = new QToolButton(ToolBar1);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(text(caption));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        // 69 pixels as designed; a substitute font whose caption would be clipped gets the room it needs.
        button->setFixedSize(qMax(69, button->fontMetrics().horizontalAdvance(button->text()) + 6), 20);
        connect(button, &QToolButton::clicked, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
        ToolBar1->addWidget(button);
        return button;
    };
    auto addSeparator = [&](const char *name) {
        auto *line = new QFrame(ToolBar1);
        line->setObjectName(QString::fromLatin1(name));
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        line->setFixedSize(8, 20);
        ToolBar1->addWidget(line);
    };
    New3 = addButton("新規追加", "New3", &TMainForm::New1Click);
    addSeparator("ToolButton2");
    Up3 = addButton("上へ移動", "Up3", &TMainForm::Up1Click);
    Down3 = addButton("下へ移動", "Down3", &TMainForm::Down1Click);
    addSeparator("ToolButton1");
    Mail3 = addButton("メール", "Mail3", &TMainForm::Mail1Click);
    Home3 = addButton("ホーム", "Home3", &TMainForm::Home1Click);
    addSeparator("ToolButton5");
    PorTop3 = addButton("ぽるてトップ", "PorTop3", &TMainForm::PorTop1Click);
    ToolBar1->setAccessibleName(text("ツールバー"));
    // The toolkit's own button for buttons that do not fit; named for screen readers.
    if (auto *more = ToolBar1->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(text("その他のボタン"));
}

void TMainForm::buildPage(int list)
{
    ListPage &page = pages_[list - 1];
    page.model = new AddressListModel(book_.list(list).entries, this);
    page.tab = new QWidget;
    page.tab->setObjectName(QStringLiteral("TabSheet%1").arg(list));
    PageControl1->addTab(page.tab, listCaption(list));
    auto *view = new QTreeView(page.tab);
    page.view = view;
    view->setObjectName(QStringLiteral("ListView%1").arg(list));
    // Screen readers name each page and its list by the tab's caption.
    page.tab->setAccessibleName(listCaption(list));
    view->setAccessibleName(listCaption(list));
    view->setModel(page.model);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true); // rows are measured once, so a million of them scroll smoothly
    view->setAllColumnsShowFocus(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSortingEnabled(false);
    view->setTextElideMode(Qt::ElideRight);
    // The selection stays as visible without the focus as with it.
    QPalette palette = view->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setBrush(QPalette::Inactive, role, palette.brush(QPalette::Active, role));
    view->setPalette(palette);

    QHeaderView *header = view->header();
    header->setSectionsClickable(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (int column = 0; column < page.model->columnCount(); ++column)
        header->resizeSection(column, designedColumnWidths[list - 1][column]);

    view->viewport()->setMouseTracking(true);
    view->viewport()->installEventFilter(this);

    auto *pageLayout = new QVBoxLayout(page.tab);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(view);
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    int list = 0;
    for (const int number : {1, 2})
        if (watched == page(number).view->viewport())
            list = number;
    if (list == 0)
        return QMainWindow::eventFilter(watched, event);
    QTreeView *view = page(list).view;
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            // After the view has handled the click itself, so the row under the pointer is selected.
            QMetaObject::invokeMethod(
                this,
                [this, list] { guarded([&] { list == 1 ? ListView1DblClick() : ListView2DblClick(); }); },
                Qt::QueuedConnection);
        }
        break;
    case QEvent::MouseMove:
        if (hintView_ != view) {
            hintView_ = view;
            hintTimer_->start();
        } else if (hintTimer_->isActive()) {
            hintTimer_->start(); // the pointer must rest before the hint shows
        }
        break;
    case QEvent::Leave:
        hintTimer_->stop();
        hintView_ = nullptr;
        break;
    case QEvent::ToolTip:
        return true; // the hint has its own timing
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Start-up and close

void TMainForm::FormCreate(const QString &folder)
{
    const QString directory = folder.isEmpty() ? programDirectory() : folder;
    setListPaths(book_, directory);
    auto afterLoading = [this] {
        for (const ListPage &p : pages_)
            p.model->reload();
        PageControl1->setCurrentWidget(book_.list(2).loaded ? TabSheet1 : TabSheet2);
    };
    try {
        LoadLists(book_);
    } catch (...) {
        afterLoading();
        throw;
    }
    afterLoading();
    book_.SettingsPath = settingsPathIn(directory);
    applySettings(LoadSettings(book_.SettingsPath));
    settingsRead_ = true;
}

bool TMainForm::FormCloseQuery()
{
    bool saved = false;
    closing_ = true;
    guarded([&] {
        // Edits to a list whose file could not be read cannot be saved without losing that file:
        // the user decides, before anything is written, whether to close all the same.
        for (const int list : {1, 2}) {
            const StoredList &stored = book_.list(list);
            if (!listFileKept(stored) || !stored.entries.changed())
                continue;
            const QString path = QDir::toNativeSeparators(stored.path);
            const ModalResult answer = MessageDialog(
                text("ﾌｧｲﾙ %1 "
                     "を読み込めなかったため、このリストへの変更は保存されません。終了してもよろしいですか？")
                    .arg(path),
                MsgDlgType::Confirmation, MsgDlgBtn::Yes | MsgDlgBtn::No, 0);
            if (answer != ModalResult::Yes)
                return;
        }
        SaveLists(book_);
        // Settings that were never read are not written: they would overwrite the user's file.
        if (settingsRead_)
            SaveSettings(book_.SettingsPath, currentSettings());
        saved = true;
    });
    closing_ = false;
    return saved;
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

void TMainForm::Exit1Click()
{
    close();
}

void TMainForm::bringToFront(const QByteArray &activationToken)
{
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken);
    raise();
    activateWindow();
}

// ---- Menu states, computed as a menu opens

void TMainForm::File1Click()
{
    MakePorMem1->setEnabled(book_.List1.Count() > 0);
}

void TMainForm::Edit1Click()
{
    const bool selected = selectedRow() >= 0;
    for (QAction *action : {Modify1, Delete1, Up1, Down1})
        action->setEnabled(selected);
}

void TMainForm::Execute1Click()
{
    const int row = selectedRow();
    if (row < 0) {
        Mail1->setEnabled(false);
        Home1->setEnabled(false);
        return;
    }
    const AddressList &list = activeModel()->list();
    Mail1->setEnabled(!isEmptyField(list.fieldOf(row, Field::Mail)));
    Home1->setEnabled(!isEmptyField(list.fieldOf(row, Field::Home)));
}

// ---- Active list and selection

int TMainForm::activeListNumber() const
{
    return PageControl1->currentWidget() == TabSheet1 ? 1 : 2;
}

int TMainForm::selectedRow() const
{
    const QModelIndexList rows = activeView()->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

// ---- Editing commands

void TMainForm::PrepareNew()
{
    const bool list1 = activeListNumber() == 1;
    InputDlg->StaticText1->setVisible(list1);
    InputDlg->SpinEdit1->setVisible(list1);
    InputDlg->SpinEdit1->setValue(1);
    for (int i = 0; i < textFieldCount; ++i)
        InputDlg->setEditBytes(i, QByteArray());
}

void TMainForm::PrepareModify(int row)
{
    const AddressEntry entry = activeModel()->list().Entry(row);
    const bool list1 = activeListNumber() == 1;
    InputDlg->StaticText1->setVisible(list1);
    InputDlg->SpinEdit1->setVisible(list1);
    if (list1) {
        const std::optional<qint32> number = parseIntegerText(QByteArrayView(entry.Number));
        if (!number)
            throw PorError(messages::notAnInteger(cp932::decode(entry.Number)));
        InputDlg->SpinEdit1->setValue(*number);
    }
    for (int i = 0; i < textFieldCount; ++i)
        InputDlg->setEditBytes(i, entry.field(textFields[i]));
}

AddressEntry TMainForm::ReadDialog() const
{
    AddressEntry entry;
    // The field's own leaving rule keeps the value in range; the bound holds whatever way OK was reached.
    entry.Number = integerText(qBound(0, InputDlg->SpinEdit1->Value(), 99));
    for (int i = 0; i < textFieldCount; ++i)
        entry.field(textFields[i]) = InputDlg->editBytes(i);
    return entry;
}

void TMainForm::New1Click()
{
    PrepareNew();
    if (InputDlg->showModal() != ModalResult::Ok)
        return;
    activeModel()->Append(ReadDialog());
}

void TMainForm::Modify1Click()
{
    if (selectedRow() < 0)
        return;
    PrepareModify(selectedRow());
    if (InputDlg->showModal() != ModalResult::Ok)
        return;
    const int row = selectedRow();
    if (row >= 0)
        activeModel()->Replace(row, ReadDialog());
}

void TMainForm::ListView1DblClick()
{
    Modify1Click();
}

void TMainForm::ListView2DblClick()
{
    Modify1Click();
}

void TMainForm::Delete1Click()
{
    if (selectedRow() < 0)
        return;
    const ModalResult answer = MessageDialog(text("選択したアイテムを、削除してもよろしいですか？"),
                                             MsgDlgType::Confirmation, MsgDlgBtn::Yes | MsgDlgBtn::No, 0);
    if (answer == ModalResult::No)
        throw EAbort();
    if (answer != ModalResult::Yes)
        return;
    const int row = selectedRow();
    if (row < 0)
        return;
    QTreeView *view = activeView();
    activeModel()->Delete(row);
    view->selectionModel()->clearSelection(); // the command selects no other row
}

void TMainForm::Up1Click()
{
    MoveSelected(-1);
}

void TMainForm::Down1Click()
{
    MoveSelected(+1);
}

void TMainForm::MoveSelected(int direction)
{
    const int row = selectedRow();
    if (row < 0)
        return;
    AddressListModel *model = activeModel();
    const int target = row + direction;
    if (target < 0 || target >= model->rowCount())
        return;
    model->Swap(row, target);
    // Only the selection follows the entry; the focus mark stays and the view does not scroll.
    activeView()->selectionModel()->select(model->index(target, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// ---- Launching

void TMainForm::openField(Field field)
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const QByteArray value = activeModel()->list().fieldOf(row, field);
    if (isEmptyField(value))
        return;
    const QString target = cp932::decode(value);
    if (field == Field::Mail) {
        ShellOpen(mailTarget(target));
    } else if (const std::optional<QUrl> url = homeTarget(target)) {
        ShellOpen(*url);
    }
}

void TMainForm::Mail1Click()
{
    openField(Field::Mail);
}

void TMainForm::Home1Click()
{
    openField(Field::Home);
}

QString TMainForm::topPageAddress()
{
    return QStringLiteral("http://www.example.jp/");
}

void TMainForm::PorTop1Click()
{
    ShellOpen(QUrl(topPageAddress()));
}

void TMainForm::About1Click()
{
    TAboutDlg dialog(this);
    dialog.exec();
}

void TMainForm::MakePorMem1Click()
{
    if (!exportMemberList(book_))
        return;
    MessageDialog(text("ぽるてアドレス帳のフォルダにPorMem."
                       "txtを作成しました。このファイルをぽるてソフトのフォルダにコピーしてお使い下さい。"),
                  MsgDlgType::Information, MsgDlgBtn::OK, 0);
}

// ---- Geometry: the settings hold the outer bounds of the window

std::optional<int> TMainForm::outerTop() const
{
    return bounds_->top();
}

std::optional<int> TMainForm::outerLeft() const
{
    return bounds_->left();
}

int TMainForm::outerWidth() const
{
    return bounds_->outer().width();
}

int TMainForm::outerHeight() const
{
    return bounds_->outer().height();
}

void TMainForm::applySettings(const WindowSettings &settings)
{
    // Each value at once, in the file's order: each edge or size is set on the bounds as the one
    // before left them, a coordinate never given staying where the window system puts the window.
    if (settings.top)
        bounds_->setTop(*settings.top);
    if (settings.left)
        bounds_->setLeft(*settings.left);
    if (settings.width)
        bounds_->setWidth(*settings.width);
    if (settings.height)
        bounds_->setHeight(*settings.height);
    auto applyWidths = [this](const QTreeView *view, const auto &widths) {
        QHeaderView *header = view->header();
        for (int column = 0; column < int(std::size(widths)); ++column) {
            if (!widths[column])
                continue;
            const int stored = *widths[column];
            // The header takes no negative width and ignores one beyond its maximum.
            header->resizeSection(column, qMax(0, stored));
            keptWidths_.removeIf(
                [&](const KeptWidth &kept) { return kept.header == header && kept.column == column; });
            if (const int shown = header->sectionSize(column); shown != stored)
                keptWidths_.append({header, column, stored, shown});
        }
    };
    applyWidths(ListView1, settings.list1Widths);
    applyWidths(ListView2, settings.list2Widths);
}

WindowSettings TMainForm::currentSettings() const
{
    WindowSettings settings;
    settings.top = bounds_->top();
    settings.left = bounds_->left();
    settings.width = bounds_->outer().width();
    settings.height = bounds_->outer().height();
    // The widths the header has now: as dragged, or as applied. A hidden section tells 0.
    auto collectWidths = [this](const QTreeView *view, auto &widths) {
        const QHeaderView *header = view->header();
        for (int column = 0; column < int(std::size(widths)); ++column) {
            widths[column] = header->sectionSize(column);
            for (const KeptWidth &kept : keptWidths_) {
                if (kept.header == header && kept.column == column && kept.shown == widths[column])
                    widths[column] = kept.stored;
            }
        }
    };
    collectWidths(ListView1, settings.list1Widths);
    collectWidths(ListView2, settings.list2Widths);
    return settings;
}
