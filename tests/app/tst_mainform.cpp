// The main window driven in-process: what the lists show, the menu states, the editing, launching
// and export commands, the settings applied and collected, and the close query.

#include "mainformfixture.h"

#include "app/closerequest.h"
#include "app/listmodel.h"
#include "app/spinedit.h"
#include "store/cp932.h"
#include "store/errors.h"
#include "support/storetest.h"

#include "support/scopedhook.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>

using storetest::readBytes;
using storetest::writeBytes;

namespace {
QByteArray sj(const char *utf8)
{
    return *cp932::encode(QString::fromUtf8(utf8));
}

// Two entries in list 1 and three in list 2, in their file forms.
const QByteArray list1File = "5\r\nAlice\r\nalice@example.jp\r\n\r\n123\r\n\r\nmemo a\r\n"
                             "3\r\nBob\r\n\r\nwww.example.jp/bob\r\n\r\npp\r\n\r\n";
const QByteArray list2File = "Carol\r\ncarol@example.jp\r\nhttp://example.jp/c\r\n\r\n\r\n\r\n"
                             "Dave\r\n\r\n\r\n\r\n\r\n\r\n"
                             "Eve\r\neve@example.jp\r\n\r\n\r\n\r\nlast\r\n";

void selectRow(QTreeView *view, int row)
{
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QStringList column(QTreeView *view, int col)
{
    QStringList values;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        values << view->model()->index(row, col).data().toString();
    return values;
}
} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void rowsShowEntriesInListOrder();
    void listModelKeepsItsContract();
    void startsOnFirstTabWithDesignedColumns();
    void editMenuFollowsTheActiveListsSelection_data();
    void editMenuFollowsTheActiveListsSelection();
    void executeMenuDisablesEmptyFields_data();
    void executeMenuDisablesEmptyFields();
    void exportItemFollowsListOne();
    void newAppendsToTheActiveList_data();
    void newAppendsToTheActiveList();
    void newResetsTheDialogEveryTime();
    void modifyClampsAndStoresPlainDecimal_data();
    void modifyClampsAndStoresPlainDecimal();
    void modifyOfANonIntegerNumberIsReported();
    void deleteFollowsTheAnswer_data();
    void deleteFollowsTheAnswer();
    void movesSwapEntriesAndSelectionFollows_data();
    void movesSwapEntriesAndSelectionFollows();
    void launchingOpensTheSelectedEntry_data();
    void launchingOpensTheSelectedEntry();
    void exportWritesMemberListAndTells();
    void settingsAreAppliedAndWrittenBack();
    void storedWidthTheHeaderCannotShow_data();
    void storedWidthTheHeaderCannotShow();
    void oddSettingsKeepTheValueInForce_data();
    void oddSettingsKeepTheValueInForce();
    void firstCloseWritesDesignedSettings();
    void failedListSaveKeepsWindowOpenAndRetries();
    void unreadableListIsNeitherWrittenNorDeleted_data();
    void unreadableListIsNeitherWrittenNorDeleted();
    void storedBoundsAsTheWindowHasThem_data();
    void storedBoundsAsTheWindowHasThem();
    void outsideCloseEndsModalWindowsFirst_data();
    void outsideCloseEndsModalWindowsFirst();
    void outsideCloseWhileClosingDoesNothingMore();
    void doubleClickModifiesTheRowUnderThePointer();
    void enterAndDeleteKeysStartNothing();
    void restingPointerShowsTheEditHint();
    void screenReaderNamesTheControls_data();
    void screenReaderNamesTheControls();
    void screenReaderReadsTheLists_data();
    void screenReaderReadsTheLists();
};

void TestMainForm::rowsShowEntriesInListOrder()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    QCOMPARE(column(form.ListView1, 0), QStringList({"5", "3"}));
    QCOMPARE(column(form.ListView1, 1), QStringList({"Alice", "Bob"}));
    QCOMPARE(column(form.ListView1, 3), QStringList({"", "www.example.jp/bob"}));
    QCOMPARE(column(form.ListView2, 0), QStringList({"Carol", "Dave", "Eve"}));
    QCOMPARE(column(form.ListView2, 5), QStringList({"", "", "last"}));
    QCOMPARE(form.ListView1->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("No."));
    QCOMPARE(form.ListView2->model()->headerData(1, Qt::Horizontal).toString(),
             QString::fromUtf8("メルアド"));
}

// Every change a command makes goes through the model; the views rely on its announcements.
void TestMainForm::listModelKeepsItsContract()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    for (const int list : {1, 2}) {
        AddressListModel *model = form.model(list);
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const int rows = model->rowCount();
        model->Append(AddressEntry{"1", "Zed", "", "", "", "", ""});
        model->Replace(0, AddressEntry{"2", "Amy", "", "", "", "", ""});
        model->Swap(0, rows);
        model->Delete(1);
        try {
            model->Append(AddressEntry{"3", "two\nlines", "", "", "", "", ""});
            QFAIL("a field with a line break was taken");
        } catch (const PorError &) {
        }
        QCOMPARE(model->rowCount(), rows);
        QCOMPARE(model->index(0, list == 1 ? 1 : 0).data().toString(), QStringLiteral("Zed"));
        model->reload();
    }
}

void TestMainForm::startsOnFirstTabWithDesignedColumns()
{
    MainFormFixture f;
    TMainForm &form = f.open();
    QCOMPARE(form.PageControl1->currentWidget(), form.TabSheet1);
    QCOMPARE(form.PageControl1->tabText(0), QString::fromUtf8("ぽるておともだち"));
    QCOMPARE(form.PageControl1->tabText(1), QString::fromUtf8("おともだち"));
    const QList<int> designed1 = {50, 60, 60, 60, 50, 50, 50};
    const QList<int> designed2 = {60, 60, 60, 50, 50, 50};
    for (int c = 0; c < 7; ++c)
        QCOMPARE(form.ListView1->header()->sectionSize(c), designed1[c]);
    for (int c = 0; c < 6; ++c)
        QCOMPARE(form.ListView2->header()->sectionSize(c), designed2[c]);
    QCOMPARE(form.outerWidth(), 480);
    QCOMPARE(form.outerHeight(), 258);
}

void TestMainForm::editMenuFollowsTheActiveListsSelection_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("selectedIn"); // 0: none
    QTest::addColumn<bool>("enabled");
    QTest::newRow("nothing selected") << 0 << 0 << false;
    QTest::newRow("row of list 1 on its tab") << 0 << 1 << true;
    QTest::newRow("row of list 1 seen from list 2's tab") << 1 << 1 << false;
    QTest::newRow("row of list 2 on its tab") << 1 << 2 << true;
}

void TestMainForm::editMenuFollowsTheActiveListsSelection()
{
    QFETCH(int, tab);
    QFETCH(int, selectedIn);
    QFETCH(bool, enabled);
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    form.PageControl1->setCurrentIndex(tab);
    if (selectedIn)
        selectRow(selectedIn == 1 ? form.ListView1 : form.ListView2, 0);
    emit form.Edit1->aboutToShow();
    for (QAction *action : {form.Modify1, form.Up1, form.Down1, form.Delete1})
        QCOMPARE(action->isEnabled(), enabled);
    QVERIFY(form.New1->isEnabled());
}

void TestMainForm::executeMenuDisablesEmptyFields_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("mail");
    QTest::addColumn<bool>("home");
    QTest::newRow("no selection") << -1 << false << false;
    QTest::newRow("mail only") << 0 << true << false;
    QTest::newRow("home only") << 1 << false << true;
}

void TestMainForm::executeMenuDisablesEmptyFields()
{
    QFETCH(int, row);
    QFETCH(bool, mail);
    QFETCH(bool, home);
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    TMainForm &form = f.open();
    if (row >= 0)
        selectRow(form.ListView1, row);
    emit form.Execute1->aboutToShow();
    QCOMPARE(form.Mail1->isEnabled(), mail);
    QCOMPARE(form.Home1->isEnabled(), home);
    QVERIFY(form.PorTop1->isEnabled());
    QVERIFY(form.Mail3->isEnabled()); // tool buttons are never disabled
    form.Mail3->click();
    QCOMPARE(f.opened.size(), mail ? 1 : 0);
}

void TestMainForm::exportItemFollowsListOne()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    emit form.File1->aboutToShow();
    QVERIFY(!form.MakePorMem1->isEnabled());
    form.MakePorMem1->setEnabled(true);
    form.MakePorMem1->trigger(); // nothing to export: no file, no message
    QVERIFY(!QFile::exists(f.path("PorMem.txt")));
    QVERIFY(f.messages.isEmpty());

    MainFormFixture g;
    writeBytes(g.path("PorAddr1.lst"), list1File);
    TMainForm &other = g.open();
    other.PageControl1->setCurrentIndex(1);
    emit other.File1->aboutToShow();
    QVERIFY(other.MakePorMem1->isEnabled());
}

void TestMainForm::newAppendsToTheActiveList_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QByteArray>("expectedFile");
    QTest::newRow("list 1") << 0 << QByteArray("1\r\nA\r\n\r\n\r\n\r\n\r\n\r\n");
    QTest::newRow("list 2") << 1 << QByteArray("A\r\n\r\n\r\n\r\n\r\n\r\n");
}

void TestMainForm::newAppendsToTheActiveList()
{
    QFETCH(int, tab);
    QFETCH(QByteArray, expectedFile);
    MainFormFixture f;
    TMainForm &form = f.open();
    form.PageControl1->setCurrentIndex(tab);
    bool numberShown = false;
    f.answerDialog(
        [&](TInputDlg &dlg) {
            numberShown = !dlg.SpinEdit1->isHidden() && !dlg.StaticText1->isHidden();
            dlg.Edit1->setText(QStringLiteral("A"));
        },
        ModalResult::Ok);
    form.New1->trigger();
    QCOMPARE(numberShown, tab == 0);
    QTreeView *view = tab == 0 ? form.ListView1 : form.ListView2;
    QCOMPARE(view->model()->rowCount(), 1);
    QVERIFY(view->selectionModel()->selectedRows().isEmpty());
    QCOMPARE((tab == 0 ? form.ListView2 : form.ListView1)->model()->rowCount(), 0);
    QVERIFY(form.FormCloseQuery());
    QCOMPARE(readBytes(f.path(tab == 0 ? "PorAddr1.lst" : "PorAddr2.lst")), expectedFile);
}

void TestMainForm::newResetsTheDialogEveryTime()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    // A Modify in list 2 leaves the dialog without its number field and with Carol's fields...
    form.PageControl1->setCurrentIndex(1);
    selectRow(form.ListView2, 0);
    f.answerDialog(nullptr, ModalResult::Cancel);
    form.Modify1->trigger();
    QVERIFY(f.dialog->SpinEdit1->isHidden());
    // ...and New in list 1 shows the field again, at 1, with six empty edits.
    form.PageControl1->setCurrentIndex(0);
    QString number;
    QStringList edits;
    bool shown = false;
    f.answerDialog(
        [&](TInputDlg &dlg) {
            shown = !dlg.SpinEdit1->isHidden() && dlg.SpinEdit1->isEnabled() && !dlg.StaticText1->isHidden();
            number = dlg.SpinEdit1->text();
            for (QLineEdit *edit : {dlg.Edit1, dlg.Edit2, dlg.Edit3, dlg.Edit4, dlg.Edit5, dlg.Edit6})
                edits << edit->text();
        },
        ModalResult::Cancel);
    form.New3->click();
    QVERIFY(shown);
    QCOMPARE(number, QStringLiteral("1"));
    QCOMPARE(edits, QStringList(6, QString()));
    QCOMPARE(form.ListView1->model()->rowCount(), 0);
}

void TestMainForm::modifyClampsAndStoresPlainDecimal_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<ModalResult>("result");
    QTest::addColumn<QByteArray>("kept");
    QTest::newRow("150 confirmed") << QByteArray("150") << "99" << ModalResult::Ok << QByteArray("99");
    QTest::newRow("150 cancelled") << QByteArray("150") << "99" << ModalResult::Cancel << QByteArray("150");
    QTest::newRow("007 confirmed") << QByteArray("007") << "7" << ModalResult::Ok << QByteArray("7");
    QTest::newRow("-3 confirmed") << QByteArray("-3") << "0" << ModalResult::Ok << QByteArray("0");
    QTest::newRow("hex confirmed") << QByteArray("$1F") << "31" << ModalResult::Ok << QByteArray("31");
}

void TestMainForm::modifyClampsAndStoresPlainDecimal()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    QFETCH(ModalResult, result);
    QFETCH(QByteArray, kept);
    MainFormFixture f;
    const QByteArray handle =
        sj("ぽるて") + QByteArray("\xED\x40", 2); // bytes that must come back as they were
    writeBytes(f.path("PorAddr1.lst"), "0\r\nfirst\r\n\r\n\r\n\r\n\r\n\r\n" + stored + "\r\n" + handle +
                                           "\r\nm@x\r\n\r\n\r\n\r\n\r\n");
    TMainForm &form = f.open();
    selectRow(form.ListView1, 1);
    QString seen;
    f.answerDialog([&](TInputDlg &dlg) { seen = dlg.SpinEdit1->text(); }, result);
    form.Modify1->trigger();
    QCOMPARE(seen, shown);
    const AddressEntry entry = form.book().List1.Entry(1);
    QCOMPARE(entry.Number, kept);
    QCOMPARE(entry.Handle, handle);
    QCOMPARE(entry.Mail, QByteArray("m@x"));
    QCOMPARE(form.ListView1->selectionModel()->selectedRows().value(0).row(), 1);
    QVERIFY(f.messages.isEmpty());
}

void TestMainForm::modifyOfANonIntegerNumberIsReported()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), "\r\nNoNumber\r\n\r\n\r\n\r\n\r\n\r\n");
    TMainForm &form = f.open();
    selectRow(form.ListView1, 0);
    bool opened = false;
    f.answerDialog([&](TInputDlg &) { opened = true; }, ModalResult::Ok);
    form.Modify1->trigger();
    QVERIFY(!opened);
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].kind, MessageRequest::Kind::ErrorBox);
    QCOMPARE(f.messages[0].text, QString::fromUtf8("'' は整数ではありません."));
    QCOMPARE(form.book().List1.Entry(0).Handle, QByteArray("NoNumber"));
}

void TestMainForm::deleteFollowsTheAnswer_data()
{
    QTest::addColumn<ModalResult>("answer");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("yes") << ModalResult::Yes << QStringList({"Carol", "Eve"});
    QTest::newRow("no") << ModalResult::No << QStringList({"Carol", "Dave", "Eve"});
    QTest::newRow("closed") << ModalResult::Cancel << QStringList({"Carol", "Dave", "Eve"});
}

void TestMainForm::deleteFollowsTheAnswer()
{
    QFETCH(ModalResult, answer);
    QFETCH(QStringList, left);
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    form.PageControl1->setCurrentIndex(1);
    selectRow(form.ListView1, 0);
    selectRow(form.ListView2, 1);
    f.answers = {answer};
    form.Delete1->trigger();
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].title, QString::fromUtf8("確認"));
    QCOMPARE(f.messages[0].text, QString::fromUtf8("選択したアイテムを、削除してもよろしいですか？"));
    QCOMPARE(f.messages[0].buttons, MsgDlgButtons(MsgDlgBtn::Yes | MsgDlgBtn::No));
    QCOMPARE(column(form.ListView2, 0), left);
    QCOMPARE(form.ListView1->model()->rowCount(), 2);
    if (answer == ModalResult::Yes)
        QVERIFY(form.ListView2->selectionModel()->selectedRows().isEmpty());
}

void TestMainForm::movesSwapEntriesAndSelectionFollows_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("up");
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<int>("selected");
    QTest::newRow("second up") << 1 << true << QStringList({"3", "5", "9"}) << 0;
    QTest::newRow("first up") << 0 << true << QStringList({"5", "3", "9"}) << 0;
    QTest::newRow("last down") << 2 << false << QStringList({"5", "3", "9"}) << 2;
    QTest::newRow("first down") << 0 << false << QStringList({"3", "5", "9"}) << 1;
    QTest::newRow("nothing selected") << -1 << false << QStringList({"5", "3", "9"}) << -1;
}

void TestMainForm::movesSwapEntriesAndSelectionFollows()
{
    QFETCH(int, row);
    QFETCH(bool, up);
    QFETCH(QStringList, numbers);
    QFETCH(int, selected);
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File + "9\r\nZed\r\n\r\n\r\n\r\n\r\n\r\n");
    TMainForm &form = f.open();
    if (row >= 0) {
        form.ListView1->selectionModel()->setCurrentIndex(form.ListView1->model()->index(row, 0),
                                                          QItemSelectionModel::ClearAndSelect |
                                                              QItemSelectionModel::Rows);
    }
    (up ? form.Up3 : form.Down3)->click();
    QCOMPARE(column(form.ListView1, 0), numbers);
    const QModelIndexList rows = form.ListView1->selectionModel()->selectedRows();
    QCOMPARE(rows.isEmpty() ? -1 : rows[0].row(), selected);
    if (row >= 0)
        QCOMPARE(form.ListView1->currentIndex().row(), row); // the focus mark stays where it was
    if (numbers[0] == "3")
        QCOMPARE(form.book().List1.Entry(0).Handle, QByteArray("Bob")); // every field travels
    QVERIFY(f.messages.isEmpty());
}

void TestMainForm::launchingOpensTheSelectedEntry_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("mail");
    QTest::addColumn<QString>("expected");
    QTest::newRow("mail list 1") << 0 << 0 << true << "mailto:alice@example.jp";
    QTest::newRow("empty mail") << 0 << 1 << true << "";
    QTest::newRow("bare host") << 0 << 1 << false << "http://www.example.jp/bob";
    QTest::newRow("empty home") << 0 << 0 << false << "";
    QTest::newRow("mail list 2") << 1 << 0 << true << "mailto:carol@example.jp";
    QTest::newRow("home list 2") << 1 << 0 << false << "http://example.jp/c";
    QTest::newRow("nothing selected") << 1 << -1 << true << "";
}

void TestMainForm::launchingOpensTheSelectedEntry()
{
    QFETCH(int, tab);
    QFETCH(int, row);
    QFETCH(bool, mail);
    QFETCH(QString, expected);
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    form.PageControl1->setCurrentIndex(tab);
    selectRow(form.ListView1, 0); // never counts on list 2's tab
    if (row >= 0)
        selectRow(tab == 0 ? form.ListView1 : form.ListView2, row);
    else
        form.ListView2->clearSelection();
    (mail ? form.Mail1 : form.Home1)->trigger();
    (mail ? form.Mail3 : form.Home3)->click();
    if (expected.isEmpty()) {
        QVERIFY(f.opened.isEmpty());
    } else {
        QCOMPARE(f.opened.size(), 2);
        QCOMPARE(f.opened[0].toString(), expected);
    }
    form.PorTop3->click();
    QCOMPARE(f.opened.last().toString(), TMainForm::topPageAddress());
    QVERIFY(f.messages.isEmpty());
}

void TestMainForm::exportWritesMemberListAndTells()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    TMainForm &form = f.open();
    form.PageControl1->setCurrentIndex(1);
    form.MakePorMem1->trigger();
    QCOMPARE(readBytes(f.path("PorMem.txt")),
             QByteArray("Alice\r\nmailto:alice@example.jp\r\nBob\r\nwww.example.jp/bob\r\n"));
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].title, QString::fromUtf8("情報"));
    QCOMPARE(f.messages[0].buttons, MsgDlgButtons(MsgDlgBtn::OK));
    QCOMPARE(f.messages[0].text,
             QString::fromUtf8("ぽるてアドレス帳のフォルダにPorMem.txtを作成しました。"
                               "このファイルをぽるてソフトのフォルダにコピーしてお使い下さい。"));
    QCOMPARE(form.PageControl1->currentIndex(), 1);
}

void TestMainForm::settingsAreAppliedAndWrittenBack()
{
    MainFormFixture f;
    const QByteArray ini = "; kept\r\n[Position]\r\nTop=0x64\r\nLeft=$20\r\nWidth=600\r\nHeight=400\r\n"
                           "[List1]\r\nCol1=10\r\nCol7=0\r\n[List2]\r\nCol6=-5\r\n[Other]\r\nKey=kept\r\n";
    writeBytes(f.path("PorAddr.ini"), ini);
    TMainForm &form = f.open();
    QCOMPARE(form.outerTop(), std::optional<int>(100));
    QCOMPARE(form.outerLeft(), std::optional<int>(32));
    QCOMPARE(form.outerWidth(), 600);
    QCOMPARE(form.outerHeight(), 400);
    QCOMPARE(form.ListView1->header()->sectionSize(0), 10);
    QCOMPARE(form.ListView1->header()->sectionSize(6), 0);
    QCOMPARE(form.ListView1->header()->sectionSize(1), 60);
    QCOMPARE(form.ListView2->header()->sectionSize(5), 0); // a negative width shows as none
    form.ListView2->header()->resizeSection(0, 77);        // the user drags a column
    QVERIFY(form.FormCloseQuery());
    const QByteArray written = readBytes(f.path("PorAddr.ini"));
    QCOMPARE(
        written,
        QByteArray("; kept\r\n[Position]\r\nTop=100\r\nLeft=32\r\nWidth=600\r\nHeight=400\r\n"
                   "[List1]\r\nCol1=10\r\nCol7=0\r\nCol2=60\r\nCol3=60\r\nCol4=60\r\nCol5=50\r\nCol6=50\r\n"
                   "[List2]\r\nCol6=-5\r\nCol1=77\r\nCol2=60\r\nCol3=60\r\nCol4=50\r\nCol5=50\r\n"
                   "[Other]\r\nKey=kept\r\n"));
}

// A stored width the header cannot show as it is (it takes no negative width and ignores one beyond
// its maximum) is written back as read while the column is left alone; once the user drags the
// column, what it shows is written.
void TestMainForm::storedWidthTheHeaderCannotShow_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("dragged"); // -1: left alone
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("negative, left alone") << QByteArray("-5") << 0 << -1 << QByteArray("-5");
    QTest::newRow("negative, then widened") << QByteArray("-5") << 0 << 40 << QByteArray("40");
    QTest::newRow("zero, then widened") << QByteArray("0") << 0 << 30 << QByteArray("30");
    QTest::newRow("beyond the maximum, left alone")
        << QByteArray("2000000000") << 60 << -1 << QByteArray("2000000000");
    QTest::newRow("beyond the maximum, then dragged")
        << QByteArray("2000000000") << 60 << 70 << QByteArray("70");
}

void TestMainForm::storedWidthTheHeaderCannotShow()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, shown);
    QFETCH(int, dragged);
    QFETCH(QByteArray, written);
    MainFormFixture f;
    writeBytes(f.path("PorAddr.ini"), "[List1]\r\nCol2=" + stored + "\r\n");
    TMainForm &form = f.open();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.ListView1->header()->sectionSize(1), shown);
    if (dragged >= 0)
        form.ListView1->header()->resizeSection(1, dragged);
    QVERIFY(form.FormCloseQuery());
    const QByteArray ini = readBytes(f.path("PorAddr.ini"));
    QVERIFY2(ini.contains("[List1]\r\nCol2=" + written + "\r\nCol1=50\r\nCol3=60\r\n"), ini.constData());
}

void TestMainForm::oddSettingsKeepTheValueInForce_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("width");
    QTest::newRow("0x alone") << QByteArray("0x") << 480;
    QTest::newRow("empty") << QByteArray("") << 480;
    QTest::newRow("unit") << QByteArray("12px") << 480;
    QTest::newRow("fraction") << QByteArray("1.5") << 480;
    QTest::newRow("too large") << QByteArray("4294967296") << 480;
    QTest::newRow("sign before 0x") << QByteArray("-0x10") << 480;
    QTest::newRow("sign before $") << QByteArray("-$10") << 480;
    QTest::newRow("0X form") << QByteArray("0X1F4") << 500;
    QTest::newRow("leading blanks") << QByteArray("  510") << 510;
}

void TestMainForm::oddSettingsKeepTheValueInForce()
{
    QFETCH(QByteArray, value);
    QFETCH(int, width);
    MainFormFixture f;
    writeBytes(f.path("PorAddr.ini"), "[Position]\r\nWidth=" + value + "\r\n");
    TMainForm &form = f.open();
    QCOMPARE(form.outerWidth(), width);
    QCOMPARE(form.outerHeight(), 258);
}

void TestMainForm::firstCloseWritesDesignedSettings()
{
    MainFormFixture f;
    TMainForm &form = f.open();
    QVERIFY(form.FormCloseQuery());
    const QByteArray ini = readBytes(f.path("PorAddr.ini"));
    QVERIFY2(ini.contains("[Position]\r\nTop="), ini.constData());
    QVERIFY(ini.contains(
        "Width=480\r\nHeight=258\r\n[List1]\r\nCol1=50\r\nCol2=60\r\nCol3=60\r\nCol4=60\r\nCol5=50\r\n"
        "Col6=50\r\nCol7=50\r\n[List2]\r\nCol1=60\r\nCol2=60\r\nCol3=60\r\nCol4=50\r\nCol5=50\r\nCol6="
        "50\r\n"));
    // Empty lists leave no list files behind.
    QVERIFY(!QFile::exists(f.path("PorAddr1.lst")));
    QVERIFY(!QFile::exists(f.path("PorAddr2.lst")));
}

void TestMainForm::failedListSaveKeepsWindowOpenAndRetries()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // A folder where list 1's file should go: the file cannot be created.
    QVERIFY(QFile::remove(f.path("PorAddr1.lst")));
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("PorAddr1.lst")));
    form.PageControl1->setCurrentIndex(1);
    selectRow(form.ListView2, 0);
    f.answers = {ModalResult::Yes};
    form.Delete1->trigger(); // list 2 changes in memory only

    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QCOMPARE(f.messages.size(), 2);
    QCOMPARE(f.messages[1].kind, MessageRequest::Kind::ErrorBox);
    QCOMPARE(f.messages[1].text, QString::fromUtf8("ﾌｧｲﾙ %1 を作成できません.").arg(f.path("PorAddr1.lst")));
    QCOMPARE(readBytes(f.path("PorAddr2.lst")), list2File); // not reached
    QVERIFY(!QFile::exists(f.path("PorAddr.ini")));

    QVERIFY(QDir(f.dir.path()).rmdir(QStringLiteral("PorAddr1.lst")));
    QVERIFY(form.close());
    QCOMPARE(readBytes(f.path("PorAddr1.lst")), list1File);
    QCOMPARE(readBytes(f.path("PorAddr2.lst")), list2File.mid(list2File.indexOf("Dave")));
    QVERIFY(QFile::exists(f.path("PorAddr.ini")));
}

void TestMainForm::unreadableListIsNeitherWrittenNorDeleted_data()
{
    QTest::addColumn<bool>("list1There");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QList<ModalResult>>("answers");
    QTest::addColumn<QStringList>("asked"); // the files the close asks about, in order
    QTest::addColumn<bool>("closes");
    const QStringList one{"PorAddr1.lst"}, both{"PorAddr1.lst", "PorAddr2.lst"};
    QTest::newRow("unchanged lists close silently")
        << true << false << QList<ModalResult>() << QStringList() << true;
    QTest::newRow("changes, No keeps the window")
        << true << true << QList<ModalResult>{ModalResult::No} << one << false;
    QTest::newRow("changes, box closed keeps the window")
        << true << true << QList<ModalResult>{ModalResult::Cancel} << one << false;
    QTest::newRow("changes, Yes to both closes")
        << true << true << QList<ModalResult>{ModalResult::Yes, ModalResult::Yes} << both << true;
    QTest::newRow("list 1 had no file: saved")
        << false << true << QList<ModalResult>{ModalResult::Yes} << QStringList{"PorAddr2.lst"} << true;
}

void TestMainForm::unreadableListIsNeitherWrittenNorDeleted()
{
    if (storetest::isRoot() && qEnvironmentVariableIsEmpty("PORADDR_AS_USER")) {
        // Root can open any file: run this case again as an unprivileged user, as a user would meet it.
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PORADDR_AS_USER"), QStringLiteral("1"));
        env.insert(QStringLiteral("HOME"), QDir::tempPath());
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        QStringList command = storetest::asNobody(
            storetest::sharedExecutable(), {QStringLiteral("unreadableListIsNeitherWrittenNorDeleted:") +
                                            QString::fromUtf8(QTest::currentDataTag())});
        child.start(command.takeFirst(), command);
        QVERIFY(child.waitForFinished(60000));
        QVERIFY2(child.exitCode() == 0, child.readAll().constData());
        return;
    }
    QFETCH(bool, list1There);
    QFETCH(bool, changed);
    QFETCH(QList<ModalResult>, answers);
    QFETCH(QStringList, asked);
    QFETCH(bool, closes);
    MainFormFixture f;
    const QByteArray ini = "[Position]\r\nWidth=600\r\n";
    writeBytes(f.path("PorAddr.ini"), ini);
    if (list1There)
        writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    QVERIFY(QFile::setPermissions(f.path("PorAddr2.lst"), QFileDevice::WriteOwner));
    TMainForm &form = f.open();
    QVERIFY(!form.book().list(2).loaded);
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].text, QString::fromUtf8("ﾌｧｲﾙ %1 は開けません.").arg(f.path("PorAddr2.lst")));
    // Loading stopped: both lists empty, list 2's page shown, the settings not applied.
    QCOMPARE(form.PageControl1->currentWidget(), form.TabSheet2);
    QCOMPARE(form.ListView1->model()->rowCount(), 0);
    QCOMPARE(form.outerWidth(), 480);
    AddressEntry added;
    added.Number = "7";
    added.Handle = "New";
    if (changed) {
        form.model(1)->Append(added);
        form.model(2)->Append(added);
    }

    f.messages.clear();
    f.answers = answers;
    QCOMPARE(form.FormCloseQuery(), closes);
    QCOMPARE(f.messages.size(), asked.size());
    for (int i = 0; i < asked.size(); ++i) {
        QCOMPARE(f.messages[i].title, QString::fromUtf8("確認"));
        QCOMPARE(f.messages[i].buttons, MsgDlgBtn::Yes | MsgDlgBtn::No);
        QCOMPARE(f.messages[i].text,
                 QString::fromUtf8("ﾌｧｲﾙ %1 を読み込めなかったため、このリストへの変更は保存されません。"
                                   "終了してもよろしいですか？")
                     .arg(f.path(asked[i].toLatin1().constData())));
    }
    // What could not be read stays as it was, and so do the settings, which were never read.
    QVERIFY(QFile::setPermissions(f.path("PorAddr2.lst"), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(readBytes(f.path("PorAddr2.lst")), list2File);
    QCOMPARE(readBytes(f.path("PorAddr.ini")), ini);
    if (list1There)
        QCOMPARE(readBytes(f.path("PorAddr1.lst")), list1File);
    else
        QCOMPARE(readBytes(f.path("PorAddr1.lst")), QByteArray("7\r\nNew\r\n\r\n\r\n\r\n\r\n\r\n"));
}

// Stored positions and sizes as the window takes them: a coordinate that is not stored stays where
// the window system put the window, and values beyond what the window system takes are brought
// within it, the same on screen and in what the close writes back.
void TestMainForm::storedBoundsAsTheWindowHasThem_data()
{
    QTest::addColumn<QByteArray>("position");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QList<int>>("bounds"); // Top, Left, Width, Height; -1: where the system placed it
    QTest::newRow("Top without Left") << QByteArray("Top=300\r\n") << true << QList<int>{300, -1, 480, 258};
    QTest::newRow("Left without Top") << QByteArray("Left=40\r\n") << true << QList<int>{-1, 40, 480, 258};
    QTest::newRow("at the 32-bit limits")
        << QByteArray("Top=2147483647\r\nLeft=-2147483648\r\nWidth=2147483647\r\nHeight=-2147483648\r\n")
        << false << QList<int>{32767, -32768, 32767, 0};
    QTest::newRow("lowest top, highest height") << QByteArray("Top=-2147483648\r\nHeight=2147483647\r\n")
                                                << false << QList<int>{-32768, -1, 480, 32767};
}

void TestMainForm::storedBoundsAsTheWindowHasThem()
{
    QFETCH(QByteArray, position);
    QFETCH(bool, shown);
    QFETCH(QList<int>, bounds);
    QPoint placed; // where the window system puts the window when nothing is stored
    {
        MainFormFixture plain;
        TMainForm &form = plain.open();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::qWait(20);
        placed = QPoint(form.outerLeft().value_or(-1), form.outerTop().value_or(-1));
    }
    MainFormFixture f;
    writeBytes(f.path("PorAddr.ini"), "[Position]\r\n" + position);
    TMainForm &form = f.open();
    if (shown) {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }
    const int top = bounds[0] == -1 ? placed.y() : bounds[0];
    const int left = bounds[1] == -1 ? placed.x() : bounds[1];
    QTRY_COMPARE(form.outerTop(), std::optional<int>(top));
    QCOMPARE(form.outerLeft(), std::optional<int>(left));
    if (shown)
        QCOMPARE(form.frameGeometry().topLeft(), QPoint(left, top));
    QCOMPARE(form.outerWidth(), bounds[2]);
    QCOMPARE(form.outerHeight(), bounds[3]);
    QVERIFY(form.FormCloseQuery());
    const QByteArray written = readBytes(f.path("PorAddr.ini"));
    const int values[] = {top, left, bounds[2], bounds[3]};
    const char *keys[] = {"Top", "Left", "Width", "Height"};
    for (int k = 0; k < 4; ++k)
        QVERIFY2(written.contains(keys[k] + ("=" + QByteArray::number(values[k]) + "\r\n")),
                 written.constData());
}

// A terminate signal while a modal window is open: the window ends as its close box would end it,
// the command that opened it sees that, and then the lists are saved as they stand.
void TestMainForm::outsideCloseEndsModalWindowsFirst_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("entry dialog: cancelled") << QStringLiteral("New1");
    QTest::newRow("delete question: no answer") << QStringLiteral("Delete1");
    QTest::newRow("About box: closed") << QStringLiteral("About1");
}

void TestMainForm::outsideCloseEndsModalWindowsFirst()
{
    QFETCH(QString, command);
    MainFormFixture f;
    QByteArray lfOnly = list2File;
    lfOnly.replace("\r\n", "\n"); // every save writes CR LF, so the file tells whether it was saved
    writeBytes(f.path("PorAddr2.lst"), lfOnly);
    TMainForm &form = f.open();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.PageControl1->setCurrentIndex(1);
    selectRow(form.ListView2, 1);
    const ScopedHook realWindows(setMessageAnswerer, MessageAnswerer());
    OutsideCloseRequest outside(form);
    QString ended;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (QWidget *modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            ended = modal->windowTitle();
            outside.request();
        }
    });
    poll.start(20);
    form.findChild<QAction *>(command)->trigger(); // returns once its modal window has ended
    QVERIFY(!ended.isEmpty());
    QTRY_VERIFY(!form.isVisible());
    QCOMPARE(form.book().List2.Count(), 3);
    QCOMPARE(readBytes(f.path("PorAddr2.lst")), list2File);
    QVERIFY(QFile::exists(f.path("PorAddr.ini")));
}

// The close request shows the error box of a failed save; a signal now must not start another.
void TestMainForm::outsideCloseWhileClosingDoesNothingMore()
{
    MainFormFixture f;
    TMainForm &form = f.open();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.model(1)->Append(AddressEntry{"1", "A", "", "", "", "", ""});
    QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("PorAddr1.lst")));
    OutsideCloseRequest outside(form);
    const ScopedHook answering(setMessageAnswerer, [&](const MessageRequest &request) {
        f.messages.append(request);
        outside.request();
        return ModalResult::Ok;
    });
    outside.request();
    QTRY_COMPARE(f.messages.size(), 1);
    QTest::qWait(100);
    QCOMPARE(f.messages.size(), 1);
    QCOMPARE(f.messages[0].kind, MessageRequest::Kind::ErrorBox);
    QVERIFY(form.isVisible());
    // Once that request is over, the next one tries again from the start.
    QVERIFY(QDir(f.dir.path()).rmdir(QStringLiteral("PorAddr1.lst")));
    outside.request();
    QTRY_VERIFY(!form.isVisible());
    QCOMPARE(readBytes(f.path("PorAddr1.lst")), QByteArray("1\r\nA\r\n\r\n\r\n\r\n\r\n\r\n"));
}

void TestMainForm::doubleClickModifiesTheRowUnderThePointer()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    form.PageControl1->setCurrentIndex(1);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QStringList seen;
    f.answerDialog(
        [&](TInputDlg &dlg) {
            seen << dlg.Edit1->text();
            dlg.Edit6->setText(QStringLiteral("changed"));
        },
        ModalResult::Ok);
    QWidget *viewport = form.ListView2->viewport();
    const QPoint onRow = form.ListView2->visualRect(form.ListView2->model()->index(2, 1)).center();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, onRow);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, onRow);
    QTRY_COMPARE(seen, QStringList({"Eve"}));
    QCOMPARE(form.book().List2.Entry(2).Memo, QByteArray("changed"));
    // Below the last row nothing is under the pointer: the click clears the selection, nothing opens.
    const QPoint empty(onRow.x(), viewport->height() - 3);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, empty);
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, empty);
    QTest::qWait(50);
    QCOMPARE(seen.size(), 1);
}

void TestMainForm::enterAndDeleteKeysStartNothing()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    TMainForm &form = f.open();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.ListView1->setFocus();
    form.ListView1->setCurrentIndex(form.ListView1->model()->index(0, 0));
    int opened = 0;
    f.answerDialog([&](TInputDlg &) { ++opened; }, ModalResult::Cancel);
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Delete}) {
        QTest::keyClick(form.ListView1, Qt::Key(key));
        QTest::keyClick(form.ListView1->viewport(), Qt::Key(key));
    }
    QTest::qWait(50);
    QCOMPARE(opened, 0);
    QVERIFY(f.messages.isEmpty());
    QCOMPARE(form.ListView1->model()->rowCount(), 2);
}

void TestMainForm::restingPointerShowsTheEditHint()
{
    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    TMainForm &form = f.open();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWidget *viewport = form.ListView1->viewport();
    // Pointer events as the window system sends them when the pointer comes to rest over a row.
    QEnterEvent enter(QPointF(20, 10), QPointF(20, 10), viewport->mapToGlobal(QPointF(20, 10)));
    QCoreApplication::sendEvent(viewport, &enter);
    QMouseEvent move(QEvent::MouseMove, QPointF(20, 10), viewport->mapToGlobal(QPointF(20, 10)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
    QTest::qWait(250);
    QVERIFY(!QToolTip::isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 1500);
    QCOMPARE(QToolTip::text(), QString::fromUtf8("ダブルクリックで編集"));
    QTRY_VERIFY_WITH_TIMEOUT(!QToolTip::isVisible(), 4000);
}

// Tool buttons, tabs and lists as a screen reader meets them: a role and the caption as the name.
void TestMainForm::screenReaderNamesTheControls_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<int>("child"); // -1: the object itself, otherwise that child of its interface
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");

    const QList<QPair<const char *, const char *>> buttons = {
        {"New3", "新規追加"}, {"Up3", "上へ移動"}, {"Down3", "下へ移動"},
        {"Mail3", "メール"},  {"Home3", "ホーム"}, {"PorTop3", "ぽるてトップ"}};
    for (const auto &[object, caption] : buttons)
        QTest::newRow(object) << object << -1 << int(QAccessible::Button) << QString::fromUtf8(caption);
    QTest::newRow("first tab") << "qt_tabwidget_tabbar" << 0 << int(QAccessible::PageTab)
                               << QString::fromUtf8("ぽるておともだち");
    QTest::newRow("second tab") << "qt_tabwidget_tabbar" << 1 << int(QAccessible::PageTab)
                                << QString::fromUtf8("おともだち");
    QTest::newRow("ListView1") << "ListView1" << -1 << int(QAccessible::Tree)
                               << QString::fromUtf8("ぽるておともだち");
    QTest::newRow("ListView2") << "ListView2" << -1 << int(QAccessible::Tree)
                               << QString::fromUtf8("おともだち");
}

void TestMainForm::screenReaderNamesTheControls()
{
    QFETCH(QString, object);
    QFETCH(int, child);
    QFETCH(int, role);
    QFETCH(QString, name);

    MainFormFixture f;
    TMainForm &form = f.open();
    auto *widget = form.findChild<QWidget *>(object);
    QVERIFY(widget);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface);
    if (child >= 0)
        iface = iface->child(child);
    QVERIFY(iface);
    QCOMPARE(int(iface->role()), role);
    QCOMPARE(iface->text(QAccessible::Name), name);
}

// Each list tells its rows, its columns by their captions, and each cell's text.
void TestMainForm::screenReaderReadsTheLists_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<QStringList>("lastRow");

    QTest::newRow("list 1")
        << 1 << QString::fromUtf8("No.,ハンドル,メルアド,ホーム,ICQ,ポスペ,メモ").split(QLatin1Char(','))
        << QStringList{"3", "Bob", "", "www.example.jp/bob", "", "pp", ""};
    QTest::newRow("list 2")
        << 2 << QString::fromUtf8("ハンドル,メルアド,ホーム,ICQ,ポスペ,メモ").split(QLatin1Char(','))
        << QStringList{"Eve", "eve@example.jp", "", "", "", "last"};
}

void TestMainForm::screenReaderReadsTheLists()
{
    QFETCH(int, list);
    QFETCH(QStringList, headers);
    QFETCH(QStringList, lastRow);

    MainFormFixture f;
    writeBytes(f.path("PorAddr1.lst"), list1File);
    writeBytes(f.path("PorAddr2.lst"), list2File);
    TMainForm &form = f.open();
    QTreeView *view = list == 1 ? form.ListView1 : form.ListView2;
    form.PageControl1->setCurrentIndex(list - 1);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(view);
    QVERIFY(iface);
    QAccessibleTableInterface *table = iface->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->rowCount(), view->model()->rowCount());
    QCOMPARE(table->columnCount(), headers.size());
    QStringList shownHeaders, cells;
    for (int column = 0; column < headers.size(); ++column) {
        shownHeaders << table->columnDescription(column);
        QAccessibleInterface *cell = table->cellAt(table->rowCount() - 1, column);
        QVERIFY(cell);
        cells << cell->text(QAccessible::Name);
    }
    QCOMPARE(shownHeaders, headers);
    QCOMPARE(cells, lastRow);
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
