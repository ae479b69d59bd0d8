#include "ui/ExternalProgramsDialog.h"
#include "ui/InputDialogViews.h"
#include "ui/InputDialogs.h"

#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "ListTestViews.h"
#include "ValueTestViews.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::TScriptedValueViews;

namespace {

TExternalProg Prog(const QString &ACommand, int32_t AErrorLevel, int32_t AWait)
{
    return TExternalProg{ACommand, AErrorLevel, AWait};
}

// A file with a "#!" line, executable or not.
QString Script(const QString &ADir, const QString &AName, bool AExecutable)
{
    const QString name = ADir + u"/"_s + AName;
    vl::test::WriteBytes(name, "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(name, AExecutable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                            : QFile::ReadOwner | QFile::WriteOwner);
    return name;
}

// Runs the placeholder dialog as OK on its preselected entry.
class TPlaceholderViews : public THeadlessInputDialogViews {
public:
    TPlaceholderViews() { SetInputDialogViews(this); }
    ~TPlaceholderViews() override { SetInputDialogViews(nullptr); }
    QString Chosen;
    TPhType Type = TPhType::ptTime;
    void ExecutePlaceHolder(TPlaceHolderDialog &D) override
    {
        D.OKBtn.Click();
        Chosen = D.Result();
    }
};

} // namespace

TEST(ExternalProgramsDialogTest, ProgramsComeBackAsTheyWentInUnlessEdited)
{
    struct Case {
        std::string name;
        TExternalProg pre, post;
        std::function<void(TAddProgramsDialog &)> edit;
        TExternalProg preOut, postOut;
    } cases[] = {
        {"group and 30 s timeout, administrator without timeout, skip flags 9",
         Prog(u"/opt/none/pre.sh -x"_s, 3, 0x2000 + 30), Prog(u"/opt/none/post"_s, 9, 0xA000), nullptr,
         Prog(u"/opt/none/pre.sh -x"_s, 3, 0x201E), Prog(u"/opt/none/post"_s, 9, 0xA000)},
        {"console and ignore-timeout flags", Prog(u"a"_s, 255, 0x3000 + 0x4000 + 3600), Prog(QString(), 6, 0),
         nullptr, Prog(u"a"_s, 255, 0x7E10), Prog(QString(), 6, 0)},
        {"clearing the command stops running the program",
         Prog(u"/opt/none/pre"_s, 1, 0x2000), Prog(u"/opt/none/post"_s, 0, 0x2000 + 5),
         [](TAddProgramsDialog &D) { D.Post.edCommand.UserEdit(QString()); }, Prog(u"/opt/none/pre"_s, 1, 0x2000),
         Prog(QString(), 0, 5)},
        {"a timeout chosen and the exit-code limit raised",
         Prog(u"/opt/none/pre"_s, 1, 0x2000), Prog(QString(), 0, 0),
         [](TAddProgramsDialog &D) {
             D.Pre.rbWt.UserClick();
             D.Pre.reTm.UserEdit(u"45"_s);
             D.reErrorLevel.UserEdit(u"4"_s);
             D.Post.gb.CheckBox.UserClick();
             D.cbError.UserClick();
             D.cbIdle.UserClick();
         },
         Prog(u"/opt/none/pre"_s, 4, 0x2000 + 45), Prog(QString(), 6, 0)},
    };
    for (const Case &c : cases) {
        TScriptedValueViews views;
        views.OnAddPrograms = [&](TAddProgramsDialog &D) {
            if (c.edit)
                c.edit(D);
            D.OKBtn.UserClick();
        };
        TExternalProg pre = c.pre;
        TExternalProg post = c.post;
        TAddProgramsDialog dialog;
        EXPECT_TRUE(dialog.Execute(u"/tmp"_s, pre, post)) << c.name;
        EXPECT_EQ(pre, c.preOut) << c.name;
        EXPECT_EQ(post, c.postOut) << c.name;
    }
}

TEST(ExternalProgramsDialogTest, LoadingShowsTheBitsInTheControls)
{
    TAddProgramsDialog d;
    d.Setup(u"/tmp"_s, Prog(u"/opt/none/pre"_s, 7, 0x2000 + 30), Prog(u"/opt/none/post"_s, 9, 0xA000), -1);
    EXPECT_TRUE(d.Pre.gb.Checked());
    EXPECT_TRUE(d.Pre.rbWt.Checked());
    EXPECT_EQ(d.Pre.reTm.Text(), u"30"_s);
    EXPECT_TRUE(d.Pre.reTm.Enabled());
    EXPECT_EQ(d.reErrorLevel.Text(), u"7"_s);

    EXPECT_TRUE(d.Post.gb.Checked());
    EXPECT_TRUE(d.Post.rbWp.Checked());
    EXPECT_EQ(d.Post.reTm.Text(), u"5"_s);
    EXPECT_FALSE(d.Post.reTm.Enabled());
    EXPECT_FALSE(d.Post.udTm.Enabled());
    EXPECT_TRUE(d.Post.cbAdmin.Checked());
    EXPECT_FALSE(d.Post.cbConsole.Checked());
    EXPECT_TRUE(d.cbCancel.Checked());
    EXPECT_FALSE(d.cbError.Checked());
    EXPECT_FALSE(d.cbIdle.Checked());
    EXPECT_TRUE(d.cbPostErrorLevel.Checked());
    EXPECT_FALSE(d.cbEncrypt.Visible());

    // The timeout follows the wait choice, and the group.
    d.Post.rbWt.UserClick();
    EXPECT_TRUE(d.Post.reTm.Enabled());
    d.Post.gb.CheckBox.UserClick();
    EXPECT_FALSE(d.Post.reTm.Enabled());
    EXPECT_FALSE(d.Post.cbAdmin.Enabled());
    EXPECT_FALSE(d.cbCancel.Enabled());
    d.Post.gb.CheckBox.UserClick();
    EXPECT_TRUE(d.Post.reTm.Enabled());
}

TEST(ExternalProgramsDialogTest, EncryptIsReturnedOnlyWhenShownAndCancelChangesNothing)
{
    struct Case {
        int in;
        bool click;
        TModalResult close;
        int out;
    } cases[] = {{-1, false, mrOk, -1}, {0, true, mrOk, 1}, {1, true, mrOk, 0}, {0, true, mrCancel, 0}};
    for (const Case &c : cases) {
        TScriptedValueViews views;
        views.OnAddPrograms = [&](TAddProgramsDialog &D) {
            EXPECT_EQ(D.cbEncrypt.Visible(), c.in >= 0);
            EXPECT_EQ(D.cbEncrypt.Checked(), c.in > 0);
            if (c.click)
                D.cbEncrypt.UserClick();
            D.Pre.edCommand.UserEdit(u"changed"_s);
            (c.close == mrOk ? D.OKBtn : D.CancelBtn).UserClick();
        };
        const TExternalProg pre = Prog(u"/opt/none/pre"_s, 2, 0x2000);
        TExternalProg preIo = pre;
        TExternalProg post;
        int encrypt = c.in;
        TAddProgramsDialog dialog;
        EXPECT_EQ(dialog.Execute(u"/tmp"_s, preIo, post, encrypt), c.close == mrOk);
        EXPECT_EQ(encrypt, c.out) << c.in << " " << c.close;
        EXPECT_EQ(preIo.Command, c.close == mrOk ? u"changed"_s : pre.Command);
    }
}

TEST(ExternalProgramsDialogTest, ThePickedProgramIsQuotedWhenItHasBlanksAndItsConsoleIsDetected)
{
    const QString dir = vl::test::MakeTempDir(u"My Tools"_s);
    struct Case {
        QString file;
        QString command;
        bool console;
    } cases[] = {
        {Script(dir, u"run it.sh"_s, true), u"\""_s + dir + u"/run it.sh\""_s, true},
        {Script(dir, u"notes.sh"_s, false), u"\""_s + dir + u"/notes.sh\""_s, false},
        {u"/usr/bin/env"_s, u"/usr/bin/env"_s, true},
    };
    for (const Case &c : cases) {
        TScriptedValueViews views;
        views.PickedFile = c.file;
        TAddProgramsDialog d;
        d.Setup(u"/tmp"_s, Prog(QString(), 1, 0x2000), TExternalProg(), -1);
        d.Pre.CommandBtn.UserClick();
        EXPECT_EQ(d.Pre.edCommand.Text(), c.command);
        EXPECT_EQ(d.Pre.cbConsole.Checked(), c.console) << c.file.toStdString();
    }
}

TEST(ExternalProgramsDialogTest, BrowsingOpensWhereTheCommandsPoint)
{
    struct Case {
        QString pre, post;
        bool browsePost;
        QString dir, name;
        int filter;
    } cases[] = {
        {QString(), QString(), false, u"/data/tasks"_s, QString(), 1},
        {u"\"/opt/my tool/run.sh\" -v"_s, QString(), false, u"/opt/my tool/"_s, u"run.sh"_s, 2},
        {u"/usr/bin/tar -c x"_s, QString(), false, u"/usr/bin/"_s, u"tar"_s, 1},
        {QString(), QString(), true, u"/data/tasks"_s, QString(), 1},
        {u"/opt/x/start.desktop a"_s, QString(), true, u"/opt/x/"_s, QString(), 3},
        {u"/opt/x/a.sh"_s, u"/srv/b.py 1"_s, true, u"/srv/"_s, u"b.py"_s, 4},
    };
    for (const Case &c : cases) {
        TScriptedValueViews views;
        TAddProgramsDialog d;
        d.Setup(u"/data/tasks"_s, Prog(c.pre, 1, 0x2000), Prog(c.post, 0, 0x2000), -1);
        (c.browsePost ? d.Post : d.Pre).CommandBtn.UserClick();
        ASSERT_EQ(views.Requests.size(), 1);
        const TOpenFileRequest &r = views.Requests.first();
        const std::string label = (c.pre + u" | "_s + c.post).toStdString();
        EXPECT_EQ(r.InitialDir, c.dir) << label;
        EXPECT_EQ(r.FileName, c.name) << label;
        EXPECT_EQ(r.FilterIndex, c.filter) << label;
        EXPECT_TRUE(r.ExecutablesFirst);
        EXPECT_EQ(r.Title, c.browsePost ? u"Select program to be executed after backup"_s
                                        : u"Select program to be executed before backup"_s);
    }
}

TEST(ExternalProgramsDialogTest, RecentCommandsRoundTripThroughTheIniWithQuotesAsHashes)
{
    const QString ini = vl::test::MakeTempDir() + u"/prog.ini"_s;
    {
        TMemIniFile file(ini);
        file.WriteString(u"PreCommands"_s, u"History0"_s, u"#/opt/a b/x.sh# -q"_s);
        file.WriteString(u"PostCommands"_s, u"History0"_s, u"/bin/true"_s);
        file.UpdateFile();
    }
    TScriptedValueViews views;
    views.OnAddPrograms = [](TAddProgramsDialog &D) {
        EXPECT_EQ(D.Pre.edCmdList.Items(), QStringList{u"\"/opt/a b/x.sh\" -q"_s});
        D.Pre.edCommand.UserEdit(u"\"/opt/new tool/go.sh\""_s);
        D.Post.edCommand.UserEdit(u"\"/opt/p/q.sh\" \"a b\""_s);
        D.OKBtn.UserClick();
    };
    {
        TAddProgramsDialog dialog;
        dialog.Init(ini);
        dialog.Init(u"/elsewhere.ini"_s); // the first file stays
        TExternalProg pre = Prog(QString(), 1, 0x2000);
        TExternalProg post = Prog(QString(), 0, 0x2000);
        EXPECT_TRUE(dialog.Execute(u"/tmp"_s, pre, post));
        EXPECT_EQ(dialog.IniName(), ini);
    }
    const TMemIniFile saved(ini);
    // A command that is one quoted path goes in without its quotes.
    EXPECT_EQ(saved.ReadString(u"PreCommands"_s, u"History0"_s, QString()), u"/opt/new tool/go.sh"_s);
    EXPECT_EQ(saved.ReadString(u"PreCommands"_s, u"History1"_s, QString()), u"#/opt/a b/x.sh# -q"_s);
    EXPECT_EQ(saved.ReadString(u"PostCommands"_s, u"History0"_s, QString()), u"#/opt/p/q.sh# #a b#"_s);
    EXPECT_EQ(saved.ReadString(u"PostCommands"_s, u"History1"_s, QString()), u"/bin/true"_s);
}

TEST(ExternalProgramsDialogTest, ChoosingARecentCommandQuotesASinglePathWithBlanks)
{
    const QString dir = vl::test::MakeTempDir(u"with blank"_s);
    const QString existing = Script(dir, u"tool"_s, true);
    struct Case {
        bool post;
        QString entry;
        QString command;
    } cases[] = {
        {false, u"/opt/My Tool/run.sh"_s, u"\"/opt/My Tool/run.sh\""_s},
        {false, u"/opt/tool/run.sh -v now"_s, u"/opt/tool/run.sh -v now"_s},
        {false, u"/opt/tool/run.sh /etc/a.conf"_s, u"/opt/tool/run.sh /etc/a.conf"_s},
        {false, u"\"/opt/a b/c.sh\" x"_s, u"\"/opt/a b/c.sh\" x"_s},
        {false, u"/opt/a.b/c.sh x"_s, u"/opt/a.b/c.sh x"_s},
        {false, existing, u"\""_s + existing + u"\""_s},
        {true, u"/opt/My Tool/after.sh"_s, u"\"/opt/My Tool/after.sh\""_s},
        {true, u"/opt/My Tool/after"_s, u"/opt/My Tool/after"_s},
        {true, u"/usr/bin/notify done"_s, u"/usr/bin/notify done"_s},
        {true, existing, u"\""_s + existing + u"\""_s},
    };
    for (const Case &c : cases) {
        TAddProgramsDialog d;
        d.Setup(u"/tmp"_s, Prog(QString(), 1, 0x2000), Prog(QString(), 0, 0x2000), -1);
        TProgramControls &p = c.post ? d.Post : d.Pre;
        p.edCmdList.SetItems({u"first"_s, c.entry});
        p.edCmdList.UserSelect(1);
        EXPECT_EQ(p.edCommand.Text(), c.command) << c.entry.toStdString();
    }
}

TEST(ExternalProgramsDialogTest, APlaceholderReplacesTheSelectionAndTheCaretFollowsIt)
{
    TPlaceholderViews placeholders;
    TAddProgramsDialog d;
    d.Setup(u"/tmp"_s, Prog(u"/bin/tar -czf OUT"_s, 1, 0x2000), TExternalProg(), -1);
    d.SelectionOf = [](const TEditState &) { return std::pair{14, 3}; };
    int caret = -1;
    d.FocusEdit = [&](TEditState &AEdit, int ACaret) {
        EXPECT_EQ(&AEdit, &d.Pre.edCommand);
        caret = ACaret;
    };
    d.Pre.PhBtn.UserClick();
    ASSERT_FALSE(placeholders.Chosen.isEmpty());
    EXPECT_EQ(d.Pre.edCommand.Text(), u"/bin/tar -czf "_s + placeholders.Chosen);
    EXPECT_EQ(caret, 14 + placeholders.Chosen.size());
}

TEST(ExternalProgramsDialogTest, EditListOfThePopupMenuEditsTheListItWasOpenedOn)
{
    vl::test::TScriptedViews lists;
    lists.OnEditHistList = [](TEditHistListDialog &L) {
        EXPECT_EQ(L.laDesc.Caption(), u"External programs"_s);
        EXPECT_EQ(L.lbHistList.Texts(), (QStringList{u"a"_s, u"b"_s}));
        L.lbHistList.SetItemIndex(0);
        L.lbHistList.SetSelected(0, true);
        L.btnRemove.Click();
        L.OKBtn.Click();
    };
    TAddProgramsDialog d;
    d.Post.edCmdList.SetItems({u"a"_s, u"b"_s});
    d.Pre.edCmdList.SetItems({u"c"_s});
    d.PopupOn(d.Post.edCmdList);
    ASSERT_EQ(d.pmHistList.Count(), 3);
    EXPECT_TRUE(d.pmHistList.Items(1).IsLine());
    d.pmHistList.Items(0).Click();
    EXPECT_EQ(d.Post.edCmdList.Items(), QStringList{u"b"_s});
    EXPECT_EQ(d.Pre.edCmdList.Items(), QStringList{u"c"_s});
}

TEST(ExternalProgramsDialogTest, ResetEmptiesTheProgramWithTheGivenExitCodeLimit)
{
    TExternalProg p = Prog(u"x"_s, 9, 0xF00F);
    ResetExternalProg(1, p);
    EXPECT_EQ(p, Prog(QString(), 1, 0));
}
