#include "ui/ExternalProgramsDialog.h"

#include "core/Exceptions.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"
#include "core/Settings.h"
#include "core/ShellUtils.h"
#include "core/Translate.h"
#include "core/XlFileUtils.h"
#include "ui/EditHistList.h"
#include "ui/History.h"
#include "ui/InputDialogs.h"
#include "ui/Placement.h"
#include "ui/WindowMemory.h"

namespace vl {

namespace {

const QString kPreSection = QStringLiteral("PreCommands");
const QString kPostSection = QStringLiteral("PostCommands");
const QString kHistoryIdent = QStringLiteral("History");
const QChar kQuote = QLatin1Char('"');
const QChar kBlank = QLatin1Char(' ');

QString Quoted(const QString &AText)
{
    return kQuote + AText + kQuote;
}

// The folder part of a path with its trailing "/"; empty without one.
QString FolderOf(const QString &APath)
{
    const qsizetype slash = APath.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : APath.left(slash + 1);
}

QString NameOf(const QString &APath)
{
    return APath.mid(APath.lastIndexOf(QLatin1Char('/')) + 1);
}

// The filter pair that fits the extension of AFile.
int FilterIndexOfFile(const QString &AFile)
{
    const QString ext = ExtensionOf(NameOf(AFile));
    return FilterIndexOfMask(ProgramFileFilter(), ext.isEmpty() ? QString() : QLatin1Char('.') + ext);
}

// Whether an entry of a recent-command list, stored without the quotes
// it had as one quoted path, is such a path and needs them back. Entries
// with quotes or without blanks never do; a path that exists always does.
// A blank followed by "-" (a switch) or "/" (another absolute path) marks
// arguments. Otherwise the lists guess: before, one "." after the first
// character; after, an extension without blanks.
bool NeedsQuotes(const QString &AEntry, bool APost)
{
    if (AEntry.contains(kQuote) || !AEntry.contains(kBlank))
        return false;
    if (XlFileExists(AEntry, true))
        return true;
    if (AEntry.contains(QLatin1String(" -")) || AEntry.contains(QLatin1String(" /")))
        return false;
    if (APost) {
        const QString ext = ExtensionOf(NameOf(AEntry));
        return !ext.isEmpty() && !ext.contains(kBlank);
    }
    return AEntry.mid(1).count(QLatin1Char('.')) == 1;
}

// The command as the recent-command list keeps it: a command that is one
// quoted string without its quotes.
QString HistoryText(const QString &ACommand)
{
    if (ACommand.size() >= 2 && ACommand.startsWith(kQuote) && ACommand.endsWith(kQuote) &&
        ACommand.count(kQuote) == 2)
        return ACommand.mid(1, ACommand.size() - 2);
    return ACommand;
}

void SaveCommandList(const QString &AIniName, const QString &ASection, const TComboBoxState &AList)
{
    WriteHistoryToIniFile(AIniName, ASection, kHistoryIdent, true, TStringList(AList.Items()), true);
}

} // namespace

void ResetExternalProg(int32_t ErrorLevel, TExternalProg &Prog)
{
    Prog.Command.clear();
    Prog.Wait = 0;
    Prog.ErrorLevel = ErrorLevel;
}

QString ProgramOfCommand(const QString &ACommand)
{
    const QString command = ACommand.trimmed();
    if (command.startsWith(kQuote)) {
        const qsizetype end = command.indexOf(kQuote, 1);
        return end < 0 ? command.mid(1) : command.mid(1, end - 1);
    }
    const qsizetype blank = command.indexOf(kBlank);
    return blank < 0 ? command : command.left(blank);
}

QString ProgramFileFilter()
{
    // "Programs" lists executable files only (TOpenFileRequest).
    return TrDomain(kDialogsDomain, "Programs") + QStringLiteral("|*|") + TrDomain(kDialogsDomain, "Shell scripts") +
           QStringLiteral("|*.sh|") + TrDomain(kDialogsDomain, "Shortcuts") + QStringLiteral("|*.desktop|") +
           TrDomain(kDialogsDomain, "all") + QStringLiteral("|*");
}

// ---------------------------------------------------------------------------
// TAddProgramsDialog

TAddProgramsDialog::TAddProgramsDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "External programs"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    Pre.gb.CheckBox.SetCaption(TrDomain(kDialogsDomain, "Execute before backup:"));
    Post.gb.CheckBox.SetCaption(TrDomain(kDialogsDomain, "Execute after backup:"));
    Pre.CommandBtn.SetHint(TrDomain(kDialogsDomain, "Select program to be executed before backup"));
    Post.CommandBtn.SetHint(TrDomain(kDialogsDomain, "Select program to be executed after backup"));
    Pre.DropDownCount = 15;
    Post.DropDownCount = kDefaultDropDownCount;
    SetupProgram(Pre, false);
    SetupProgram(Post, true);

    laErrorLevel.SetCaption(
        TrDomain(kDialogsDomain, "Cancel backup if returned errorcode is equal to or greater than"));
    reErrorLevel.Name = QStringLiteral("reErrorLevel");
    reErrorLevel.SetMinValue(1);
    reErrorLevel.SetMaxValue(255);
    reErrorLevel.SetValue(1);
    udErrorLevel.Name = QStringLiteral("udErrorLevel");
    udErrorLevel.SetAssociate(&reErrorLevel);
    Pre.gb.AddControl(laErrorLevel);
    Pre.gb.AddControl(reErrorLevel);
    Pre.gb.AddControl(udErrorLevel);

    Label1.SetCaption(TrDomain(kDialogsDomain, "Do not run this program if "));
    cbCancel.SetCaption(TrDomain(kDialogsDomain, "backup was canceled by user"));
    cbError.SetCaption(TrDomain(kDialogsDomain, "backup had errors"));
    cbIdle.SetCaption(TrDomain(kDialogsDomain, "no files had to be backed up"));
    cbPostErrorLevel.SetCaption(TrDomain(kDialogsDomain, "Ignore returned errorcode"));
    for (TControlState *control : {static_cast<TControlState *>(&Label1), static_cast<TControlState *>(&cbCancel),
                                   static_cast<TControlState *>(&cbError), static_cast<TControlState *>(&cbIdle),
                                   static_cast<TControlState *>(&cbPostErrorLevel)})
        Post.gb.AddControl(*control);

    cbEncrypt.SetCaption(TrDomain(kDialogsDomain, "Encrypt command lines in saved task"));

    pmHistList.Add(TrDomain(kDialogsDomain, "Edit list ...")).OnClick = [this](TMenuItemState &) { EditCmdList(); };
    pmHistList.Add(QStringLiteral("-"));
    pmHistList.Add(TrDomain(kDialogsDomain, "Cancel"));

    OKBtn.OnClick = [this](TControlState &) {
        if (Accept())
            CloseModal(mrOk);
    };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

TAddProgramsDialog::~TAddProgramsDialog()
{
    if (FIniName.isEmpty())
        return;
    // A destructor cannot pass the failure on; the lists are only lost.
    try {
        SaveCommandList(FIniName, kPreSection, Pre.edCmdList);
        SaveCommandList(FIniName, kPostSection, Post.edCmdList);
    } catch (const Exception &e) {
        WriteServiceLog(e.Message());
    }
}

void TAddProgramsDialog::SetupProgram(TProgramControls &AProgram, bool APost)
{
    TProgramControls &p = AProgram;
    p.edCmdList.SetHint(TrDomain(kDialogsDomain, "External programs"));
    p.PhBtn.SetHint(TrDomain(kDialogsDomain, "Insert placeholder"));
    p.rbWp.SetCaption(TrDomain(kDialogsDomain, "Wait until program terminates"));
    p.rbWt.SetCaption(TrDomain(kDialogsDomain, "Do not wait more than"));
    JoinRadioButtons({&p.rbWp, &p.rbWt});
    p.rbWp.SetChecked(true);
    p.reTm.Name = APost ? QStringLiteral("rePostTm") : QStringLiteral("rePreTm");
    p.reTm.SetMinValue(1);
    p.reTm.SetMaxValue(3600);
    p.reTm.SetValue(5);
    p.udTm.Name = APost ? QStringLiteral("udPostTm") : QStringLiteral("udPreTm");
    p.udTm.SetAlignButton(TUDAlignButton::udLeft);
    p.udTm.SetAssociate(&p.reTm);
    p.lbSeconds.SetCaption(TrDomain(kDialogsDomain, "seconds"));
    p.cbIgnore.SetCaption(TrDomain(kDialogsDomain, "Ignore timeout"));
    p.cbAdmin.SetCaption(TrDomain(kDialogsDomain, "Prompt to run as administrator"));
    p.cbConsole.SetCaption(TrDomain(kDialogsDomain, "Show console output if available"));
    // The timeout edit and its buttons are left to UpdateTimeout: they
    // also depend on the wait choice.
    for (TControlState *control :
         {static_cast<TControlState *>(&p.edCommand), static_cast<TControlState *>(&p.edCmdList),
          static_cast<TControlState *>(&p.CommandBtn), static_cast<TControlState *>(&p.PhBtn),
          static_cast<TControlState *>(&p.rbWp), static_cast<TControlState *>(&p.rbWt),
          static_cast<TControlState *>(&p.lbSeconds), static_cast<TControlState *>(&p.cbIgnore),
          static_cast<TControlState *>(&p.cbAdmin), static_cast<TControlState *>(&p.cbConsole)})
        p.gb.AddControl(*control);
    UpdateTimeout(p);

    p.gb.OnCheckClick = [this, &p](TControlState &) {
        UpdateTimeout(p);
        if (p.gb.Checked())
            DetectConsole(p);
    };
    p.rbWp.OnClick = [this, &p](TControlState &) { UpdateTimeout(p); };
    p.rbWt.OnClick = p.rbWp.OnClick;
    p.edCommand.OnChange = [this, &p](TControlState &) { DetectConsole(p); };
    p.edCmdList.OnChange = [this, &p, APost](TControlState &) { ListChoice(p, APost); };
    p.CommandBtn.OnClick = [this, &p, APost](TControlState &) { Browse(p, APost); };
    p.PhBtn.OnClick = [this, &p](TControlState &) { InsertPlaceholder(p); };
}

void TAddProgramsDialog::UpdateTimeout(TProgramControls &AProgram)
{
    const bool on = AProgram.gb.Checked() && AProgram.rbWt.Checked();
    AProgram.reTm.SetEnabled(on);
    AProgram.udTm.SetEnabled(on);
}

void TAddProgramsDialog::DetectConsole(TProgramControls &AProgram)
{
    AProgram.cbConsole.SetChecked(IsConsoleProgram(ProgramOfCommand(AProgram.edCommand.Text())));
}

void TAddProgramsDialog::Init(const QString &AIniName)
{
    if (!FIniName.isEmpty() || AIniName.isEmpty())
        return;
    FIniName = AIniName;
    for (auto [list, section] : {std::pair{&Pre.edCmdList, kPreSection}, std::pair{&Post.edCmdList, kPostSection}}) {
        TStringList entries(list->Items());
        ReadHistoryFromIniFile(FIniName, section, kHistoryIdent, entries, true);
        list->SetItems(entries.Texts());
    }
}

void TAddProgramsDialog::LoadProgram(TProgramControls &AProgram, const TExternalProg &AProg)
{
    TProgramControls &p = AProgram;
    // In this order: the command and the group run the console detection,
    // the stored flag has the last word.
    p.edCommand.SetText(AProg.Command);
    p.gb.SetChecked((AProg.Wait & kWaitRun) != 0);
    p.cbIgnore.SetChecked((AProg.Wait & kWaitIgnoreTimeout) != 0);
    p.cbAdmin.SetChecked((AProg.Wait & kWaitAsAdmin) != 0);
    p.cbConsole.SetChecked((AProg.Wait & kWaitShowConsole) != 0);
    const int timeout = AProg.Wait & kWaitTimeoutMask;
    if (timeout != 0) {
        p.rbWt.SetChecked(true);
        p.reTm.SetValue(timeout);
    } else {
        p.rbWp.SetChecked(true);
    }
    UpdateTimeout(p);
}

void TAddProgramsDialog::Setup(const QString &APath, const TExternalProg &PreCmd, const TExternalProg &PostCmd,
                               int Encrypt)
{
    FPath = APath;
    LoadProgram(Pre, PreCmd);
    LoadProgram(Post, PostCmd);
    reErrorLevel.SetValue(PreCmd.ErrorLevel);
    cbCancel.SetChecked((PostCmd.ErrorLevel & kSkipAfterCancel) != 0);
    cbError.SetChecked((PostCmd.ErrorLevel & kSkipAfterErrors) != 0);
    cbIdle.SetChecked((PostCmd.ErrorLevel & kSkipAfterIdle) != 0);
    cbPostErrorLevel.SetChecked((PostCmd.ErrorLevel & kIgnoreErrorLevel) != 0);
    cbEncrypt.SetVisible(Encrypt >= 0);
    cbEncrypt.SetChecked(Encrypt > 0);
}

bool TAddProgramsDialog::Accept()
{
    // As when the focus leaves the edit: a value outside its range must
    // not be stored.
    for (TRangeEdit *edit : {&Pre.reTm, &Post.reTm, &reErrorLevel}) {
        if (!edit->Enabled()) {
            // Out of the user's reach: brought into the range silently.
            edit->SetValue(edit->Value());
            continue;
        }
        try {
            edit->Exit();
        } catch (const EUserRangeError &e) {
            ShowErrorBox(e.Message(), 0);
            if (FocusControl)
                FocusControl(*edit);
            return false;
        }
    }
    return true;
}

void TAddProgramsDialog::StoreProgram(TProgramControls &AProgram, TExternalProg &AProg)
{
    TProgramControls &p = AProgram;
    AProg.Command = p.edCommand.Text();
    AddComboHistory(p.edCmdList, HistoryText(AProg.Command), p.DropDownCount);
    if (AProg.Command.isEmpty())
        p.gb.SetChecked(false);
    int32_t wait = p.rbWp.Checked() ? 0 : int32_t(p.reTm.Value()) & kWaitTimeoutMask;
    if (p.gb.Checked())
        wait |= kWaitRun;
    if (p.cbIgnore.Checked())
        wait |= kWaitIgnoreTimeout;
    if (p.cbAdmin.Checked())
        wait |= kWaitAsAdmin;
    if (p.cbConsole.Checked())
        wait |= kWaitShowConsole;
    AProg.Wait = wait;
}

void TAddProgramsDialog::Finish(TExternalProg &PreCmd, TExternalProg &PostCmd, int &Encrypt)
{
    StoreProgram(Pre, PreCmd);
    StoreProgram(Post, PostCmd);
    PreCmd.ErrorLevel = int32_t(reErrorLevel.Value());
    int32_t level = 0;
    if (cbCancel.Checked())
        level |= kSkipAfterCancel;
    if (cbError.Checked())
        level |= kSkipAfterErrors;
    if (cbIdle.Checked())
        level |= kSkipAfterIdle;
    if (cbPostErrorLevel.Checked())
        level |= kIgnoreErrorLevel;
    PostCmd.ErrorLevel = level;
    if (cbEncrypt.Visible())
        Encrypt = cbEncrypt.Checked() ? 1 : 0;
}

bool TAddProgramsDialog::Execute(const QString &APath, TExternalProg &PreCmd, TExternalProg &PostCmd, int &Encrypt)
{
    Setup(APath, PreCmd, PostCmd, Encrypt);
    ValueDialogViews().ExecuteAddPrograms(*this);
    if (ModalResult() != mrOk)
        return false;
    Finish(PreCmd, PostCmd, Encrypt);
    return true;
}

bool TAddProgramsDialog::Execute(const QString &APath, TExternalProg &PreCmd, TExternalProg &PostCmd)
{
    int encrypt = -1;
    return Execute(APath, PreCmd, PostCmd, encrypt);
}

void TAddProgramsDialog::ListChoice(TProgramControls &AProgram, bool APost)
{
    const int index = AProgram.edCmdList.ItemIndex();
    if (index < 0)
        return;
    QString entry = AProgram.edCmdList.Items().at(index);
    if (NeedsQuotes(entry, APost))
        entry = Quoted(entry);
    AProgram.edCommand.SetText(entry);
}

TOpenFileRequest TAddProgramsDialog::BrowseRequest(bool APost) const
{
    TOpenFileRequest request;
    request.Title = APost ? TrDomain(kDialogsDomain, "Select program to be executed after backup")
                          : TrDomain(kDialogsDomain, "Select program to be executed before backup");
    request.Filter = ProgramFileFilter();
    request.ExecutablesFirst = true;
    request.InitialDir = FPath;
    request.FilterIndex = 1;
    const QString own = (APost ? Post : Pre).edCommand.Text();
    const QString before = Pre.edCommand.Text();
    if (!own.isEmpty()) {
        const QString program = ProgramOfCommand(own);
        request.InitialDir = FolderOf(program);
        request.FileName = NameOf(program);
        request.FilterIndex = FilterIndexOfFile(program);
    } else if (APost && !before.isEmpty()) {
        // The after-program most likely sits beside the before-program.
        const QString program = ProgramOfCommand(before);
        request.InitialDir = FolderOf(program);
        request.FilterIndex = FilterIndexOfFile(program);
    }
    return request;
}

void TAddProgramsDialog::Browse(TProgramControls &AProgram, bool APost)
{
    QString file;
    if (!ValueDialogViews().OpenFile(BrowseRequest(APost), file) || file.isEmpty())
        return;
    // Setting the text runs the console detection.
    AProgram.edCommand.SetText(file.contains(kBlank) ? Quoted(file) : file);
}

void TAddProgramsDialog::BrowsePre()
{
    Browse(Pre, false);
}

void TAddProgramsDialog::BrowsePost()
{
    Browse(Post, true);
}

void TAddProgramsDialog::InsertPlaceholder(TProgramControls &AProgram)
{
    const TPhType type = &AProgram == &Post ? TPhType::ptPostEx : TPhType::ptPreEx;
    const QString placeholder = SelectPlaceholder(BottomRightOf(AProgram.PhBtn), type, QString());
    if (placeholder.isEmpty())
        return;
    QString text = AProgram.edCommand.Text();
    auto [start, length] = SelectionOf ? SelectionOf(AProgram.edCommand) : std::pair<int, int>(int(text.size()), 0);
    start = std::clamp(start, 0, int(text.size()));
    length = std::clamp(length, 0, int(text.size()) - start);
    text.replace(start, length, placeholder);
    AProgram.edCommand.SetText(text);
    if (FocusEdit)
        FocusEdit(AProgram.edCommand, start + int(placeholder.size()));
}

void TAddProgramsDialog::EditCmdList()
{
    if (!FPopupList)
        return;
    TComboBoxState &list = *FPopupList;
    TStringList entries(list.Items());
    if (EditHistoryList(BottomLeftOf(list, 0, 0), QString(), list.Hint(), entries))
        list.SetItems(entries.Texts());
}

bool TAddProgramsDialog::ShowHints()
{
    return VlSettings.ViewSettings.ShowToolTips;
}

void TAddProgramsDialog::ShowHelp()
{
    ShowHelpTopic(QStringLiteral("options#ext"));
}

bool EditExternalPrograms(const QString &APath, TExternalProg &PreCmd, TExternalProg &PostCmd, int &Encrypt)
{
    TAddProgramsDialog dialog;
    dialog.Init(IniFileName);
    return dialog.Execute(APath, PreCmd, PostCmd, Encrypt);
}

} // namespace vl
