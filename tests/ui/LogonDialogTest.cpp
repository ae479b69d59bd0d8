#include "ui/LogonDialog.h"

#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "ValueTestViews.h"

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::TScriptedValueViews;

TEST(LogonDialogTest, ButtonsAndEscGiveTheirResultsAndOnlyLogonReturnsTheEntries)
{
    struct Case {
        bool showSkip;
        std::function<void(TLogonDialog &)> act;
        TModalResult result;
    } cases[] = {
        {false, [](TLogonDialog &D) { D.OKBtn.UserClick(); }, mrOk},
        {false, [](TLogonDialog &D) { D.CancelBtn.UserClick(); }, mrCancel},
        {false, [](TLogonDialog &D) { D.Escape(); }, mrCancel},
        {false, [](TLogonDialog &D) { EXPECT_FALSE(D.SkipBtn.UserClick()); }, mrCancel}, // then closed
        {true, [](TLogonDialog &D) { D.SkipBtn.UserClick(); }, mrIgnore},
        {true, [](TLogonDialog &D) { D.Escape(); }, mrIgnore},
        {true, [](TLogonDialog &D) { D.OKBtn.UserClick(); }, mrOk},
    };
    for (const Case &c : cases) {
        TScriptedValueViews views;
        views.OnLogon = [&](TLogonDialog &D) {
            EXPECT_EQ(D.Form.Caption(), u"Update"_s);
            EXPECT_EQ(D.laHinweis.Caption(), u"Install as"_s);
            EXPECT_EQ(D.SkipBtn.Visible(), c.showSkip);
            EXPECT_EQ(D.cbName.Text(), u"anna"_s);
            EXPECT_TRUE(D.PwdEdit.Text().isEmpty());
            D.cbName.UserEdit(u"root"_s);
            D.PwdEdit.UserEdit(u"secret"_s);
            c.act(D);
            if (D.ModalResult() == mrNone)
                D.CloseModal(mrCancel);
        };
        QString user = u"anna"_s;
        QString pwd = u"old"_s;
        EXPECT_EQ(EnterLogonData(u"Update"_s, u"Install as"_s, c.showSkip, user, pwd), c.result);
        const bool ok = c.result == mrOk;
        EXPECT_EQ(user, ok ? u"root"_s : u"anna"_s) << c.result;
        EXPECT_EQ(pwd, ok ? u"secret"_s : u"old"_s) << c.result;
    }
}

TEST(LogonDialogTest, FocusStartsInThePasswordWhenANameIsGivenAndEnteringTheNameClearsIt)
{
    TLogonDialog named;
    named.Setup(u"t"_s, u"h"_s, false, u"anna"_s);
    EXPECT_EQ(&named.InitialFocus(), &named.PwdEdit);
    named.PwdEdit.UserEdit(u"x"_s);
    named.NameEnter();
    EXPECT_TRUE(named.PwdEdit.Text().isEmpty());

    TLogonDialog anonymous;
    anonymous.Setup(u"t"_s, u"h"_s, false, QString());
    EXPECT_EQ(&anonymous.InitialFocus(), &anonymous.cbName);
}

TEST(LogonDialogTest, UserNamesComeFromTheIniSectionAndTheNewOneIsSavedFirst)
{
    const QString ini = vl::test::MakeTempDir() + u"/prog.ini"_s;
    const auto write = [&](int ACount) {
        TMemIniFile file(ini);
        file.EraseSection(u"Logon"_s);
        for (int i = 0; i < ACount; ++i)
            file.WriteString(u"Logon"_s, u"History"_s + QString::number(i), u"user"_s + QString::number(i));
        file.UpdateFile();
    };
    struct Case {
        int stored;
        int saved;
    } cases[] = {{3, 4}, {10, 10}};
    for (const Case &c : cases) {
        write(c.stored);
        TScriptedValueViews views;
        views.OnLogon = [&](TLogonDialog &D) {
            EXPECT_TRUE(D.NameDropDown());
            EXPECT_EQ(D.cbName.Items().size(), c.stored);
            EXPECT_EQ(D.cbName.Items().value(0), u"user0"_s);
            D.cbName.UserEdit(u"fourth"_s);
            D.OKBtn.UserClick();
        };
        {
            TLogonDialog dialog;
            dialog.LoadFromIni(ini, u"Logon"_s);
            QString user;
            QString pwd;
            EXPECT_EQ(dialog.Execute(u"t"_s, u"h"_s, false, user, pwd), mrOk);
        }
        const TMemIniFile saved(ini);
        EXPECT_EQ(saved.ReadSection(u"Logon"_s).size(), c.saved) << c.stored;
        EXPECT_EQ(saved.ReadString(u"Logon"_s, u"History0"_s, QString()), u"fourth"_s);
        EXPECT_EQ(saved.ReadString(u"Logon"_s, u"History1"_s, QString()), u"user0"_s);
    }

    TLogonDialog plain;
    EXPECT_FALSE(plain.NameDropDown());
}
