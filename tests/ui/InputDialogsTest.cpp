#include "ui/InputDialogs.h"

#include "core/IniFile.h"
#include "core/Placeholders.h"
#include "ui/InputDialogViews.h"

#include "ListTestViews.h"
#include "common/TestUtils.h"

#include <gtest/gtest.h>

#include <functional>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::TRecordingMessages;

namespace {

// Runs the test's script on each dialog instead of showing it.
class TInputScript : public IInputDialogViews {
public:
    TInputScript() { SetInputDialogViews(this); }
    ~TInputScript() override { SetInputDialogViews(nullptr); }

    std::function<void(TInputTextDialog &)> OnInputText;
    std::function<void(TCharTableDialog &)> OnCharTable;
    std::function<void(TInputStringDialog &)> OnInputString;
    std::function<void(TTextEingabe &)> OnTextEingabe;
    std::function<void(TMemoDialog &)> OnMemo;
    std::function<void(TPlaceHolderDialog &)> OnPlaceHolder;

    void ExecuteInputText(TInputTextDialog &D) override { Run(OnInputText, D); }
    void ExecuteCharTable(TCharTableDialog &D) override { Run(OnCharTable, D); }
    void ExecuteInputString(TInputStringDialog &D) override { Run(OnInputString, D); }
    void ExecuteTextEingabe(TTextEingabe &D) override { Run(OnTextEingabe, D); }
    void ExecuteMemo(TMemoDialog &D) override { Run(OnMemo, D); }
    void ExecutePlaceHolder(TPlaceHolderDialog &D) override { Run(OnPlaceHolder, D); }

private:
    template <class F, class D>
    static void Run(const F &AScript, D &ADialog)
    {
        if (AScript)
            AScript(ADialog);
    }
};

// Every character 7 px wide.
int Width7(const QString &AText)
{
    return 7 * int(AText.size());
}

QStringList Numbered(const QString &APrefix, int ACount)
{
    QStringList items;
    for (int i = 0; i < ACount; ++i)
        items << APrefix + QString::number(i);
    return items;
}

} // namespace

// ---- One line with a history --------------------------------------------------

TEST(InputTextTest, ANewTextGoesOnTopOfTheListAndTheOldLastDrops)
{
    struct Case {
        QString answer;
        QStringList expected;
    } cases[] = {
        {u"new"_s, QStringList{u"new"_s} + Numbered(u"e"_s, 19)},
        {u"E7"_s, QStringList{u"E7"_s} + Numbered(u"e"_s, 7) + Numbered(u"e"_s, 20).mid(8)},
    };
    for (const Case &c : cases) {
        TInputScript script;
        script.OnInputText = [&](TInputTextDialog &D) {
            EXPECT_EQ(D.TextFeld.Items().size(), 20);
            EXPECT_TRUE(D.DropDownStyle());
            D.TextFeld.UserEdit(c.answer);
            D.OKBtn.UserClick();
        };
        TStringList list(Numbered(u"e"_s, 20));
        QString text = u"e3"_s;
        ASSERT_TRUE(InputTextEx(kDefaultPos, u"Servers"_s, u"Name:"_s, false, QString(), &list, false, text));
        EXPECT_EQ(text, c.answer);
        EXPECT_EQ(list.Texts(), c.expected) << c.answer.toStdString();
    }
}

TEST(InputTextTest, OpensWithTitleTextAndTableButtonAndCancelChangesNothing)
{
    TInputScript script;
    QPoint shownAt;
    script.OnInputText = [&](TInputTextDialog &D) {
        shownAt = D.Position;
        EXPECT_EQ(D.Form.Caption(), u"Edit comment"_s);
        EXPECT_EQ(D.Descriptor.Caption(), u"Description:"_s);
        EXPECT_EQ(D.TextFeld.Text(), u"==> "_s);
        EXPECT_EQ(D.TextFeld.Hint(), u"Description:"_s);
        EXPECT_TRUE(D.CharTabBtn.Visible());
        EXPECT_FALSE(D.DropDownStyle()); // no list: a plain edit
        D.TextFeld.UserEdit(u"changed"_s);
        D.CancelBtn.UserClick();
    };
    QString text = u"==> "_s;
    EXPECT_FALSE(InputText(kDefaultPos, u"Edit comment"_s, u"Description:"_s, true, text));
    EXPECT_EQ(text, u"==> "_s);
    EXPECT_EQ(shownAt, kDefaultPos); // the view centres it on the main window

    // No title keeps the form's own; no view at all answers nothing.
    TInputTextDialog dialog;
    dialog.Setup(QPoint(10, 20), QString(), u"d"_s, false, QString(), u"x"_s);
    EXPECT_EQ(dialog.Form.Caption(), u"Edit text"_s);
    EXPECT_FALSE(dialog.CharTabBtn.Visible());
    SetInputDialogViews(nullptr);
    EXPECT_FALSE(InputText(kDefaultPos, u"t"_s, u"d"_s, false, text));
}

TEST(InputTextTest, ALongTextWidensTheDialogAndAShortOneKeepsTheDesignWidth)
{
    struct Case {
        int length;
        int width;
    } cases[] = {
        {5, TInputTextDialog::kDefWidth},
        {44, TInputTextDialog::kDefWidth}, // 308 + 20 still fits
        {60, 60 * 7 + 20},
    };
    for (const Case &c : cases) {
        TInputTextDialog text;
        text.Setup(kDefaultPos, QString(), QString(), false, QString(), QString(c.length, u'x'));
        EXPECT_EQ(text.ClientWidth(Width7), c.width) << c.length;
        TInputStringDialog string;
        string.Setup(kDefaultPos, QString(), QString(), QString(c.length, u'x'));
        EXPECT_EQ(string.ClientWidth(Width7), c.width) << c.length;
    }
}

TEST(InputTextTest, TheCharacterTableAppendsTheChosenCharacter)
{
    TInputScript script;
    int tables = 0;
    script.OnCharTable = [&](TCharTableDialog &D) {
        ++tables;
        EXPECT_EQ(D.GridFontName, u"Symbol"_s);
        if (tables == 1) {
            D.leValue.UserEdit(u"41"_s);
            D.OKBtn.UserClick();
        } else {
            D.CancelBtn.UserClick();
        }
    };
    script.OnInputText = [](TInputTextDialog &D) {
        D.CharTabBtn.UserClick();
        D.CharTabBtn.UserClick(); // cancelled: nothing appended
        D.OKBtn.UserClick();
    };
    QString text = u"x"_s;
    ASSERT_TRUE(InputTextEx(kDefaultPos, QString(), QString(), true, u"Symbol"_s, nullptr, false, text));
    EXPECT_EQ(text, u"xA"_s);
    EXPECT_EQ(tables, 2);
}

TEST(InputTextTest, HistoryFromAnIniSectionIsWrittenBackWhenTheDialogGoes)
{
    const QString ini = vl::test::MakeTempDir() + u"/hist.ini"_s;
    {
        TMemIniFile file(ini);
        file.WriteString(u"Names"_s, u"History0"_s, u"beta"_s);
        file.WriteString(u"Names"_s, u"History1"_s, u"alpha"_s);
        file.UpdateFile();
    }
    {
        TInputScript script;
        script.OnInputText = [](TInputTextDialog &D) {
            EXPECT_EQ(D.TextFeld.Items(), (QStringList{u"beta"_s, u"alpha"_s}));
            EXPECT_TRUE(D.DropDownStyle());
            EXPECT_TRUE(D.AutoComplete());
            D.TextFeld.UserSelect(1);
            D.OKBtn.UserClick();
        };
        TInputTextDialog dialog;
        dialog.LoadFromIni(ini, u"Names"_s);
        QString text;
        ASSERT_TRUE(dialog.Execute(kDefaultPos, QString(), QString(), false, QString(), text));
        EXPECT_EQ(text, u"alpha"_s);
    }
    TMemIniFile file(ini);
    EXPECT_EQ(file.ReadString(u"Names"_s, u"History0"_s, QString()), u"alpha"_s);
    EXPECT_EQ(file.ReadString(u"Names"_s, u"History1"_s, QString()), u"beta"_s);
}

// ---- Character table ------------------------------------------------------------

TEST(CharTableTest, AHexValueMovesTheCurrentCellAndOkReturnsItsCode)
{
    struct Case {
        QString typed;
        int code; // on OK
    } cases[] = {
        {u"41"_s, 65}, {u"$7e"_s, 126}, {u"FF"_s, 255}, {u"100"_s, 0}, {u"zz"_s, 0}, {u"-1"_s, 0},
    };
    for (const Case &c : cases) {
        TInputScript script;
        script.OnCharTable = [&](TCharTableDialog &D) {
            EXPECT_EQ(D.OKBtn.Caption(), u"Select"_s);
            D.leValue.UserEdit(c.typed);
            D.OKBtn.UserClick();
        };
        EXPECT_EQ(SelectCharacter(kDefaultPos, QString()), QChar(char16_t(c.code))) << c.typed.toStdString();
    }
    TInputScript script;
    script.OnCharTable = [](TCharTableDialog &D) {
        D.leValue.UserEdit(u"41"_s);
        D.CancelBtn.UserClick();
    };
    EXPECT_TRUE(SelectCharacter(kDefaultPos, QString()).isNull());
}

TEST(CharTableTest, CellsHoldTheirCodesAndADoubleClickSelects)
{
    EXPECT_EQ(TCharGridState::CellCode(1, 1), 0);
    EXPECT_EQ(TCharGridState::CellCode(5, 2), 65);
    EXPECT_EQ(TCharGridState::CellCode(16, 16), 255);
    EXPECT_EQ(TCharGridState::HeaderText(1), u"00"_s);
    EXPECT_EQ(TCharGridState::HeaderText(16), u"0F"_s);
    TInputScript script;
    script.OnCharTable = [](TCharTableDialog &D) {
        EXPECT_FALSE(D.CharGrid.UserSelect(0, 3)); // a header
        EXPECT_TRUE(D.CharGrid.UserDoubleClick(4, 1));
    };
    EXPECT_EQ(SelectCharacter(kDefaultPos, QString()), QChar(u'0'));
}

// ---- Plain line, one or two lines -------------------------------------------------

TEST(EditStringTest, OkReturnsTheEditedLine)
{
    TInputScript script;
    script.OnInputString = [](TInputStringDialog &D) {
        EXPECT_EQ(D.Form.Caption(), u"Add item"_s);
        EXPECT_EQ(D.Descriptor.Caption(), u"Masks"_s);
        EXPECT_EQ(D.TextFeld.Text(), u"*.txt"_s);
        D.TextFeld.UserEdit(u"*.log"_s);
        D.OKBtn.UserClick();
    };
    QString text = u"*.txt"_s;
    ASSERT_TRUE(EditString(QPoint(100, 50), u"Add item"_s, u"Masks"_s, text));
    EXPECT_EQ(text, u"*.log"_s);
}

TEST(EnterTextTest, OneOrTwoFieldsAndTheSwitchAsAsked)
{
    struct Case {
        QString desc2;
        TSwitchMode mode;
        bool twoFields;
        bool switchShown;
        TSwitchMode modeAfter;
        QString bAfter;
    } cases[] = {
        {QString(), TSwitchMode::tsNotVis, false, false, TSwitchMode::tsNotVis, u"b"_s},
        {u"Password:"_s, TSwitchMode::tsOff, true, true, TSwitchMode::tsOn, u"B2"_s},
        {u"Password:"_s, TSwitchMode::tsOn, true, true, TSwitchMode::tsOff, u"B2"_s},
    };
    for (const Case &c : cases) {
        TInputScript script;
        script.OnTextEingabe = [&](TTextEingabe &D) {
            EXPECT_EQ(D.TwoFields(), c.twoFields);
            EXPECT_EQ(D.Switch.Visible(), c.switchShown);
            EXPECT_EQ(D.Switch.Checked(), c.mode == TSwitchMode::tsOn);
            D.TextFeld1.UserEdit(u"A2"_s);
            D.Textfeld2.UserEdit(u"B2"_s);
            D.Switch.UserClick();
            D.OKBtn.UserClick();
        };
        QString a = u"a"_s;
        QString b = u"b"_s;
        TSwitchMode mode = c.mode;
        TTextEingabe dialog;
        ASSERT_TRUE(dialog.Execute(kDefaultPos, u"User"_s, u"Name:"_s, c.desc2, u"Remember"_s, a, b, mode));
        EXPECT_EQ(a, u"A2"_s);
        EXPECT_EQ(b, c.bAfter);
        EXPECT_EQ(mode, c.modeAfter);
    }
    TInputScript script;
    script.OnTextEingabe = [](TTextEingabe &D) {
        EXPECT_EQ(D.Form.Caption(), u"Drive identifier"_s);
        EXPECT_FALSE(D.Switch.Visible());
        EXPECT_FALSE(D.TwoFields());
        D.TextFeld1.UserEdit(u"changed"_s);
        D.CancelBtn.UserClick();
    };
    QString id = u"?:"_s;
    EXPECT_FALSE(EnterText(kDefaultPos, u"Drive identifier"_s, u"Use ? as placeholder for drive letter"_s, id));
    EXPECT_EQ(id, u"?:"_s);
}

// ---- Multi-line text ----------------------------------------------------------------

TEST(MemoDialogTest, CommaTextsRoundTripThroughLines)
{
    struct Case {
        QString comma;
        QStringList items;
        QString written;
    } cases[] = {
        {u"a,b,c"_s, {u"a"_s, u"b"_s, u"c"_s}, u"a,b,c"_s},
        {u"\"My backup\",\"say \"\"hi\"\"\""_s, {u"My backup"_s, u"say \"hi\""_s}, u"\"My backup\",\"say \"\"hi\"\"\""_s},
        {u"one two, three"_s, {u"one"_s, u"two"_s, u"three"_s}, u"one,two,three"_s}, // blanks separate too
        {u"a,"_s, {u"a"_s, u""_s}, u"a,"_s},
        {u"\"\""_s, {u""_s}, u"\"\""_s},
        {QString(), {}, QString()},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CommaTextToItems(c.comma), c.items) << c.comma.toStdString();
        EXPECT_EQ(ItemsToCommaText(c.items), c.written) << c.comma.toStdString();
    }
}

TEST(MemoDialogTest, CommaTextShowsOneItemPerLineAndMemoTextJoinsWithCrLf)
{
    TInputScript script;
    script.OnMemo = [](TMemoDialog &D) {
        EXPECT_EQ(D.Lines(), (QStringList{u"first item"_s, u"second"_s}));
        EXPECT_EQ(D.CaretPos(), 19); // the length of the text given
        D.Memo.UserEdit(u"first item\nsecond\nthird, too"_s);
        D.OKBtn.UserClick();
    };
    QString comma = u"\"first item\",second"_s;
    ASSERT_TRUE(EditCommaText(kDefaultPos, u"Backup task: x"_s, u"Description for backup task:"_s, comma));
    EXPECT_EQ(comma, u"\"first item\",second,\"third, too\""_s);

    script.OnMemo = [](TMemoDialog &D) {
        EXPECT_EQ(D.Memo.Text(), u"<a>\n<b>"_s);
        D.Memo.UserEdit(u"<a>\n<b>\n<c>"_s);
        D.OKBtn.UserClick();
    };
    QString query = u"<a>\r\n<b>"_s;
    ASSERT_TRUE(EditMemoText(kDefaultPos, u"Event"_s, u"Query string to select the event:"_s, query));
    EXPECT_EQ(query, u"<a>\r\n<b>\r\n<c>"_s);
}

TEST(MemoDialogTest, WidensForTheWidestLineUpToHalfTheWorkArea)
{
    struct Case {
        QString text;
        int current;
        int workArea;
        int width;
    } cases[] = {
        {u"short"_s, 300, 1920, 300},
        {QString(50, u'x') + u"\nab"_s, 300, 1920, 385}, // 350 + 10 %
        {QString(200, u'x'), 300, 1920, 960},            // half the work area
        {QString(200, u'x'), 300, 400, 300},             // never narrower than it is
    };
    for (const Case &c : cases) {
        TMemoDialog dialog;
        dialog.Setup(kDefaultPos, QString(), QString(), c.text, false);
        EXPECT_EQ(dialog.ClientWidth(c.current, Width7, c.workArea), c.width) << c.text.toStdString();
    }
}

// ---- Placeholders -------------------------------------------------------------------

TEST(PlaceholderTest, EachKindOpensItsPageWithItsFirstPlaceholder)
{
    struct Case {
        TPhType type;
        TPhPage page;
        QString result;
    } cases[] = {
        {TPhType::ptTime, TPhPage::tsDateTime, DatePlaceHolders[0]},
        {TPhType::ptPath, TPhPage::tsPath, PathPlaceHolders[0]},
        {TPhType::ptMail, TPhPage::tsMail, MailPlaceHolders[0]},
        {TPhType::ptPreEx, TPhPage::tsPreExec, ExecPlaceHolders[0]}, // item 1 preselected
        {TPhType::ptPostEx, TPhPage::tsPostExec, ExecPlaceHolders[0]},
        {TPhType::ptBuLog, TPhPage::tsBuLog, LogPlaceHolders[0]},
        {TPhType::ptOtherLog, TPhPage::tsOtherLog, LogPlaceHolders[0]},
        {TPhType::ptPortable, TPhPage::tsPortable, DevicePlaceHolders[0]},
    };
    for (const Case &c : cases) {
        TInputScript script;
        script.OnPlaceHolder = [&](TPlaceHolderDialog &D) {
            EXPECT_EQ(D.ActivePage(), c.page);
            D.OKBtn.UserClick();
        };
        EXPECT_EQ(SelectPlaceholder(kDefaultPos, c.type, u"Backup"_s), c.result) << int(c.type);
    }
}

TEST(PlaceholderTest, ItemsGiveTheirTableEntriesAndCancelGivesNothing)
{
    struct Case {
        TPhType type;
        int item;
        QString result;
    } cases[] = {
        {TPhType::ptTime, 11, DatePlaceHolders[11]},
        {TPhType::ptPath, 8, PathPlaceHolders[8]},
        {TPhType::ptMail, 6, MailPlaceHolders[6]},
        {TPhType::ptPostEx, 10, ExecPlaceHolders[9]},
        {TPhType::ptPreEx, 8, ExecPlaceHolders[7]},
        {TPhType::ptBuLog, 9, LogPlaceHolders[9]},
        {TPhType::ptOtherLog, 6, LogPlaceHolders[6]},
        {TPhType::ptPortable, 12, DevicePlaceHolders[12]},
    };
    for (const Case &c : cases) {
        TInputScript script;
        script.OnPlaceHolder = [&](TPlaceHolderDialog &D) {
            ASSERT_TRUE(D.ActiveGroup().UserSelect(c.item));
            D.OKBtn.UserClick();
        };
        EXPECT_EQ(SelectPlaceholder(kDefaultPos, c.type, QString()), c.result) << int(c.type);
        script.OnPlaceHolder = [](TPlaceHolderDialog &D) { D.CancelBtn.UserClick(); };
        EXPECT_EQ(SelectPlaceholder(kDefaultPos, c.type, QString()), QString());
    }
}

TEST(PlaceholderTest, NavigationItemsSwitchPages)
{
    TPlaceHolderDialog d;
    d.Setup(kDefaultPos, TPhType::ptTime, QString());
    ASSERT_TRUE(d.DaPlaceHolderRG.UserSelect(12)); // "Other"
    EXPECT_EQ(d.ActivePage(), TPhPage::tsTime);
    EXPECT_EQ(d.TmPlaceHolderRG.ItemIndex(), 0);
    EXPECT_EQ(d.Result(), TimePlaceHolders[0]);
    ASSERT_TRUE(d.TmPlaceHolderRG.UserSelect(11)); // "Other"
    EXPECT_EQ(d.ActivePage(), TPhPage::tsDateTime);
    EXPECT_EQ(d.DaPlaceHolderRG.ItemIndex(), 0);

    TPlaceHolderDialog path;
    path.Setup(kDefaultPos, TPhType::ptPath, QString());
    ASSERT_TRUE(path.PaPlaceHolderRG.UserSelect(9)); // "Other environment variables"
    EXPECT_EQ(path.ActivePage(), TPhPage::tsSystem);
    ASSERT_TRUE(path.SyPlaceholderRG.UserSelect(8));
    EXPECT_EQ(path.Result(), SystemPlaceHolders[8]);

    TPlaceHolderDialog pre;
    pre.Setup(kDefaultPos, TPhType::ptPreEx, QString());
    ASSERT_TRUE(pre.PreExPlaceHolderRG.UserSelect(0)); // "Date and time"
    EXPECT_EQ(pre.ActivePage(), TPhPage::tsDateTime);

    TPlaceHolderDialog mail;
    mail.Setup(kDefaultPos, TPhType::ptMail, u"success"_s);
    EXPECT_EQ(mail.MaPlaceHolderRG.Caption(), u"Placeholder for success"_s);
    EXPECT_EQ(mail.DaPlaceHolderRG.Caption(), u"Placeholder for"_s);
}

TEST(PlaceholderTest, AlternatingItemsTakeTheCycleWithinTheirLargestValue)
{
    struct Case {
        int item;
        QString cycle;
        QString result; // empty: refused with the range error
        QString error;
    } cases[] = {
        {4, u"4"_s, u"%w#4%"_s, QString()},
        {3, u"366"_s, u"%d#366%"_s, QString()},
        {3, u"367"_s, QString(), u"Range check error (2 .. 366)"_s},
        {5, u"13"_s, QString(), u"Range check error (2 .. 12)"_s},
        {6, u"99"_s, u"%v#99%"_s, QString()},
    };
    for (const Case &c : cases) {
        TRecordingMessages messages;
        TPlaceHolderDialog d;
        d.Setup(kDefaultPos, TPhType::ptTime, QString());
        d.DaPlaceHolderRG.UserSelect(12);
        EXPECT_FALSE(d.reCycle.Visible());
        ASSERT_TRUE(d.TmPlaceHolderRG.UserSelect(c.item));
        EXPECT_TRUE(d.reCycle.Visible());
        EXPECT_TRUE(d.udCycle.Visible());
        d.reCycle.UserEdit(c.cycle);
        d.OKBtn.UserClick();
        if (c.result.isEmpty()) {
            EXPECT_EQ(d.ModalResult(), mrNone) << c.cycle.toStdString();
            EXPECT_EQ(messages.Texts, QStringList{c.error});
        } else {
            EXPECT_EQ(d.ModalResult(), mrOk);
            EXPECT_EQ(d.Result(), c.result);
            EXPECT_TRUE(messages.Texts.isEmpty());
        }
    }
    // A box already on its way from leaving the edit is not doubled.
    {
        TRecordingMessages messages;
        TPlaceHolderDialog d;
        d.ShowPage(TPhPage::tsTime);
        d.TmPlaceHolderRG.UserSelect(3);
        d.reCycle.UserEdit(u"400"_s);
        d.reCycle.SetErrorPending(true);
        d.OKBtn.UserClick();
        EXPECT_EQ(d.ModalResult(), mrNone);
        EXPECT_TRUE(messages.Texts.isEmpty());
    }
    // Another item hides the cycle again.
    TPlaceHolderDialog d;
    d.ShowPage(TPhPage::tsTime);
    d.TmPlaceHolderRG.UserSelect(3);
    d.TmPlaceHolderRG.UserSelect(1);
    EXPECT_FALSE(d.reCycle.Visible());
    EXPECT_FALSE(d.udCycle.Visible());
}
