#include "core/ShellUtils.h"

#include "platform/AtomicFile.h"

#include "core/DirUtils.h"
#include "core/FileStream.h"
#include "core/FileUtils.h"
#include "core/PathUtils.h"
#include "core/ProgramEnv.h"
#include "platform/File.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/Shell.h"
#include "platform/SysErrors.h"
#include "platform/System.h"

#include <QHash>

#include <vector>

namespace vl {

HRESULT HResultFromError(uint32_t Code)
{
    return Code == 0 ? S_OK : HRESULT(0x80070000u | (Code & 0xFFFFu));
}

// ---------------------------------------------------------------------------
// Folders

QString ShellFolderPath(int Csidl)
{
    switch (Csidl) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY:
        return XdgUserDir(TXdgUserDir::Desktop);
    case CSIDL_PERSONAL:
        return XdgUserDir(TXdgUserDir::Documents);
    case CSIDL_STARTUP:
        return AutostartDirectory();
    case CSIDL_MYMUSIC:
        return XdgUserDir(TXdgUserDir::Music);
    case CSIDL_MYVIDEO:
        return XdgUserDir(TXdgUserDir::Videos);
    case CSIDL_MYPICTURES:
        return XdgUserDir(TXdgUserDir::Pictures);
    case CSIDL_APPDATA:
        return XdgConfigHome();
    case CSIDL_LOCAL_APPDATA:
        return XdgDataHome();
    case CSIDL_COMMON_APPDATA:
        return QStringLiteral("/var/lib");
    case CSIDL_SYSTEM:
        return SystemDirectory();
    case CSIDL_PROGRAM_FILES:
    case CSIDL_PROGRAM_FILESX86:
    case CSIDL_PROGRAM_FILES_COMMON:
    case CSIDL_PROGRAM_FILES_COMMONX86:
        return ProgramFilesDirectory();
    case CSIDL_PROFILE:
        return UserProfileDirectory();
    default: // CSIDL_FAVORITES and everything without a Linux counterpart
        return QString();
    }
}

QString KnownFolderPath(const QUuid &FolderId)
{
    if (FolderId == FOLDERID_Downloads)
        return XdgUserDir(TXdgUserDir::Download);
    static const struct {
        QUuid Id;
        int Csidl;
    } map[] = {
        {FOLDERID_Desktop, CSIDL_DESKTOP},         {FOLDERID_Documents, CSIDL_PERSONAL},
        {FOLDERID_Music, CSIDL_MYMUSIC},           {FOLDERID_Pictures, CSIDL_MYPICTURES},
        {FOLDERID_Videos, CSIDL_MYVIDEO},          {FOLDERID_RoamingAppData, CSIDL_APPDATA},
        {FOLDERID_LocalAppData, CSIDL_LOCAL_APPDATA}, {FOLDERID_Profile, CSIDL_PROFILE},
        {FOLDERID_ProgramData, CSIDL_COMMON_APPDATA}, {FOLDERID_ProgramFiles, CSIDL_PROGRAM_FILES},
        {FOLDERID_Startup, CSIDL_STARTUP},
    };
    for (const auto &entry : map)
        if (entry.Id == FolderId)
            return ShellFolderPath(entry.Csidl);
    return QString();
}

QString ProgramFilesFolder(uint8_t Kind)
{
    return Kind <= 5 ? ShellFolderPath(CSIDL_PROGRAM_FILES) : QString();
}

void NotifyShellOfChanges()
{
}

void GetTaskbarPos(int &Edge, QRect &Rect)
{
    Edge = -1;
    Rect = QRect();
}

bool GetLibraryFolders(const QString & /*LibraryName*/, QStringList & /*List*/)
{
    return false;
}

int GetExeKind(const QString &FileName)
{
    TStatInfo st;
    if (FileName.isEmpty() || StatPath(FileName, true, st) != 0 || !st.IsRegular())
        return ekNone;
    if (ExtensionOf(FileName).compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0)
        return ekShellLink;
    if (!(st.Mode & 0111))
        return ekNone;
    TFile file;
    char head[4] = {};
    int64_t done = 0;
    if (file.Open(FileName, TFile::faRead) != 0 || file.Read(head, sizeof head, done) != 0)
        return ekNone;
    const QByteArray magic(head, int(done));
    return magic == "\x7f" "ELF" || magic.startsWith("#!") ? ekConsoleProgram : ekNone;
}

bool IsConsoleProgram(const QString &FileName)
{
    return GetExeKind(FileName) == ekConsoleProgram;
}

// ---------------------------------------------------------------------------
// Shortcuts

namespace {

// Command-line text -> arguments (see the header).
QStringList SplitArguments(const QString &s)
{
    QStringList args;
    QString current;
    bool inToken = false;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (inToken)
                args << current;
            current.clear();
            inToken = false;
            continue;
        }
        inToken = true;
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            for (++i; i < s.size() && s[i] != c; ++i) {
                if (c == QLatin1Char('"') && s[i] == QLatin1Char('\\') && i + 1 < s.size())
                    ++i;
                current += s[i];
            }
        } else if (c == QLatin1Char('\\') && i + 1 < s.size()) {
            current += s[++i];
        } else {
            current += c;
        }
    }
    if (inToken)
        args << current;
    return args;
}

// The characters after which an argument must be quoted in Exec (and, in
// our command-line form, in general).
bool NeedsQuotes(const QString &arg)
{
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`");
    if (arg.isEmpty())
        return true;
    for (QChar c : arg)
        if (reserved.contains(c))
            return true;
    return false;
}

QString QuoteArgument(const QString &arg)
{
    if (!NeedsQuotes(arg))
        return arg;
    QString quoted = QStringLiteral("\"");
    for (QChar c : arg) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    return quoted + QLatin1Char('"');
}

QString JoinArguments(const QStringList &args)
{
    QStringList quoted;
    for (const QString &arg : args)
        quoted << QuoteArgument(arg);
    return quoted.join(QLatin1Char(' '));
}

// The escapes of a desktop entry string value.
QString EscapeValue(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else if (c == QLatin1Char(' ') && i == 0) // leading blanks are trimmed otherwise
            out += QLatin1String("\\s");
        else
            out += c;
    }
    return out;
}

// Undoes the value escapes; an unknown escape stays as it is (the Exec
// quoting reads it next).
QString UnescapeValue(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(next);
    }
    return out;
}

QString ExecArgument(const QString &arg)
{
    return QuoteArgument(arg).replace(QLatin1Char('%'), QLatin1String("%%"));
}

// The arguments of an (unescaped) Exec value: quotes undone, "%%" gives
// "%", field codes (which stand for files the desktop would pass) dropped,
// and an argument that was only a field code dropped with it.
QStringList SplitExec(const QString &exec)
{
    QStringList args;
    QString current;
    bool inToken = false;
    bool bareFieldCode = false;
    // At a '%': appends "%" for "%%", else drops the field code; false for
    // a field code.
    auto percent = [&](qsizetype &i) {
        const bool literal = i + 1 < exec.size() && exec[i + 1] == QLatin1Char('%');
        if (literal)
            current += QLatin1Char('%');
        if (literal || (i + 1 < exec.size() && exec[i + 1].isLetter()))
            ++i;
        return literal;
    };
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inToken && !bareFieldCode)
                args << current;
            current.clear();
            inToken = bareFieldCode = false;
        } else if (c == QLatin1Char('"')) {
            inToken = true;
            bareFieldCode = false;
            for (++i; i < exec.size() && exec[i] != QLatin1Char('"'); ++i) {
                if (exec[i] == QLatin1Char('%'))
                    percent(i);
                else if (exec[i] == QLatin1Char('\\') && i + 1 < exec.size())
                    current += exec[++i];
                else
                    current += exec[i];
            }
        } else if (c == QLatin1Char('%')) {
            const bool first = !inToken;
            inToken = true;
            bareFieldCode = !percent(i) && (first || bareFieldCode);
        } else {
            inToken = true;
            bareFieldCode = false;
            current += c;
        }
    }
    if (inToken && !bareFieldCode)
        args << current;
    return args;
}

bool IsPkexec(const QString &program)
{
    return program == QLatin1String("pkexec") || program.endsWith(QLatin1String("/pkexec"));
}

// The [Desktop Entry] group: key -> raw value (first occurrence).
bool ParseDesktopEntry(const QString &text, QHash<QString, QString> &keys)
{
    bool found = false, inGroup = false;
    for (const QString &rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            found = found || inGroup;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inGroup && eq > 0) {
            const QString key = line.left(eq).trimmed();
            if (!keys.contains(key))
                keys.insert(key, line.mid(eq + 1).trimmed());
        }
    }
    return found;
}

} // namespace

HRESULT CreateShellLink(const QString &LinkName, const QString &Target, const QString &IconFile,
                        const QString &Arguments, const QString &WorkDir, const QString &Description,
                        int /*IconIndex*/, bool RunAsAdmin)
{
    if (LinkName.isEmpty() || Target.isEmpty())
        return E_INVALIDARG;
    // A desktop entry is UTF-8 text: names that are not cannot be stored.
    for (const QString *text : {&Target, &IconFile, &Arguments, &WorkDir, &Description})
        if (HasEscapedBytes(*text))
            return E_INVALIDARG;
    QString name = StripExtension(LastPathElement(LinkName));
    if (HasEscapedBytes(name) || name.isEmpty())
        name = LastPathElement(Target);

    QStringList exec;
    if (RunAsAdmin)
        exec << QStringLiteral("pkexec");
    exec << Target << SplitArguments(Arguments);
    QStringList execArgs;
    for (const QString &arg : exec)
        execArgs << ExecArgument(arg);

    QString text = QStringLiteral("[Desktop Entry]\nType=Application\n");
    text += QStringLiteral("Name=") + EscapeValue(name) + QLatin1Char('\n');
    text += QStringLiteral("Exec=") + EscapeValue(execArgs.join(QLatin1Char(' '))) + QLatin1Char('\n');
    if (!WorkDir.isEmpty())
        text += QStringLiteral("Path=") + EscapeValue(WorkDir) + QLatin1Char('\n');
    if (!IconFile.isEmpty())
        text += QStringLiteral("Icon=") + EscapeValue(IconFile) + QLatin1Char('\n');
    if (!Description.isEmpty())
        text += QStringLiteral("Comment=") + EscapeValue(Description) + QLatin1Char('\n');
    return HResultFromError(WriteFileAtomically(LinkName, text.toUtf8(), 0777));
}

HRESULT CreateShellLinkSimple(const QString &LinkName, const QString &Target, const QString &Arguments,
                              const QString &WorkDir, const QString &Description, bool RunAsAdmin)
{
    return CreateShellLink(LinkName, Target, Target, Arguments, WorkDir, Description, 0, RunAsAdmin);
}

HRESULT ReadShellLinkEx(const QString &LinkName, QString &Target, QString &Arguments, QString &WorkDir,
                        QString &Description, bool &RunAsAdmin, QString *IconFile)
{
    Target.clear();
    Arguments.clear();
    WorkDir.clear();
    Description.clear();
    RunAsAdmin = false;
    if (IconFile)
        IconFile->clear();

    TStatInfo st;
    if (LinkName.isEmpty() || !PathExists(LinkName, true))
        return 2;
    uint32_t code = StatPath(LinkName, true, st);
    if (code == 0 && !st.IsRegular())
        code = ERROR_ACCESS_DENIED;
    if (code == 0 && st.Size > 1024 * 1024)
        return E_FAIL; // no desktop entry is that large
    QByteArray data(qsizetype(st.Size), Qt::Uninitialized);
    TFile file;
    int64_t done = 0;
    if (code == 0 && (code = file.Open(LinkName, TFile::faRead)) == 0)
        code = file.Read(data.data(), data.size(), done);
    if (code != 0)
        return HResultFromError(code);
    data.truncate(qsizetype(done));

    QHash<QString, QString> keys;
    if (!ParseDesktopEntry(QString::fromUtf8(data), keys) || keys.value(QStringLiteral("Type")) != QLatin1String("Application"))
        return E_FAIL;
    QStringList exec = SplitExec(UnescapeValue(keys.value(QStringLiteral("Exec"))));
    const bool admin = exec.size() > 1 && IsPkexec(exec.first());
    if (admin)
        exec.removeFirst();
    if (exec.isEmpty() || exec.first().isEmpty())
        return E_FAIL;

    RunAsAdmin = admin;
    Target = exec.takeFirst();
    Arguments = JoinArguments(exec);
    WorkDir = UnescapeValue(keys.value(QStringLiteral("Path")));
    Description = UnescapeValue(keys.value(QStringLiteral("Comment")));
    if (IconFile)
        *IconFile = UnescapeValue(keys.value(QStringLiteral("Icon")));
    return S_OK;
}

bool ReadShellLink(const QString &LinkName, QString &Target, QString &Arguments, QString &WorkDir,
                   QString &Description)
{
    bool runAsAdmin = false;
    return ReadShellLinkEx(LinkName, Target, Arguments, WorkDir, Description, runAsAdmin) == S_OK;
}

// ---------------------------------------------------------------------------
// Notification-area icons

namespace {

class TNullTrayIcon : public ITrayIcon {
public:
    bool AddIcon(const TTrayIconRequest &) override { return false; }
    bool ModifyIcon(const TTrayIconRequest &) override { return false; }
    bool DeleteIcon(TWindowHandle, uint32_t) override { return false; }
};

TNullTrayIcon NullTrayIcon;
ITrayIcon *InstalledTrayIcon = nullptr;

QString FitField(const QString &s, int max)
{
    if (s.size() <= max)
        return s;
    QString cut = s.left(max);
    if (cut.back().isHighSurrogate())
        cut.chop(1);
    return cut;
}

TTrayIconRequest NewRequest(TWindowHandle Wnd, uint32_t ID)
{
    TTrayIconRequest r;
    r.Wnd = Wnd;
    r.ID = ID;
    return r;
}

void SetTip(TTrayIconRequest &r, const QString &Tip)
{
    if (!Tip.isEmpty()) {
        r.SetTip = true;
        r.Tip = FitField(Tip, kTrayTipMax);
    }
}

void SetBalloon(TTrayIconRequest &r, const QString &Title, const QString &Text)
{
    if (!Title.isEmpty()) {
        r.ShowBalloon = true;
        r.BalloonTitle = FitField(Title, kTrayBalloonTitleMax);
        r.BalloonText = FitField(Text, kTrayBalloonTextMax);
    }
}

} // namespace

ITrayIcon &TrayIconService()
{
    return InstalledTrayIcon ? *InstalledTrayIcon : NullTrayIcon;
}

void SetTrayIconService(ITrayIcon *Service)
{
    InstalledTrayIcon = Service;
}

bool AddTrayIconEx(TWindowHandle Wnd, uint32_t ID, uint32_t CallbackMessage, TIconHandle Icon,
                   TIconHandle BalloonIcon, const QString &BalloonTitle, const QString &BalloonText,
                   const QString &Tip, bool Sound)
{
    TTrayIconRequest r = NewRequest(Wnd, ID);
    if (CallbackMessage > 0) {
        r.SetCallback = true;
        r.CallbackMessage = CallbackMessage;
    }
    if (Icon != 0) {
        r.SetIcon = true;
        r.Icon = Icon;
    }
    r.BalloonIcon = BalloonIcon;
    r.BalloonFlags = (BalloonIcon != 0 || Icon != 0) ? (tbfUser | tbfLargeIcon) : tbfInfo;
    if (!Sound)
        r.BalloonFlags |= tbfNoSound;
    SetBalloon(r, BalloonTitle, BalloonText);
    SetTip(r, Tip);
    return TrayIconService().AddIcon(r);
}

bool AddTrayIcon(TWindowHandle Wnd, uint32_t ID, uint32_t CallbackMessage, TIconHandle Icon,
                 const QString &BalloonTitle, const QString &BalloonText, const QString &Tip, bool Sound)
{
    return AddTrayIconEx(Wnd, ID, CallbackMessage, Icon, 0, BalloonTitle, BalloonText, Tip, Sound);
}

bool ShowTrayBalloon(TWindowHandle Wnd, uint32_t ID, const QString &Title, const QString &Text, bool Sound)
{
    TTrayIconRequest r = NewRequest(Wnd, ID);
    SetBalloon(r, Title, Text);
    if (r.ShowBalloon)
        r.BalloonFlags = Sound ? uint32_t(tbfUser) : uint32_t(tbfUser | tbfNoSound);
    return TrayIconService().ModifyIcon(r);
}

bool UpdateTrayIcon(TWindowHandle Wnd, uint32_t ID, TIconHandle Icon, const QString &Tip, bool Sound)
{
    TTrayIconRequest r = NewRequest(Wnd, ID);
    SetTip(r, Tip);
    if (Icon != 0) {
        r.SetIcon = true;
        r.Icon = Icon;
    }
    if (!Sound)
        r.BalloonFlags = tbfNoSound;
    return TrayIconService().ModifyIcon(r);
}

bool UpdateTrayIconImage(TWindowHandle Wnd, uint32_t ID, TIconHandle Icon, bool Sound)
{
    return UpdateTrayIcon(Wnd, ID, Icon, QString(), Sound);
}

bool DeleteTrayIcon(TWindowHandle Wnd, uint32_t ID)
{
    return TrayIconService().DeleteIcon(Wnd, ID);
}

// ---------------------------------------------------------------------------
// Item operations

namespace {

QString WithoutTrailingDelimiter(QString name)
{
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    return name;
}

uint32_t CopyFileItem(const QString &source, const QString &dest)
{
    try {
        CopyFileWithAttributes(source, dest);
    } catch (const EExtFileStreamError &e) {
        return e.ErrorCode() ? uint32_t(e.ErrorCode()) : ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

// A folder with its content; links are copied as links.
uint32_t CopyTree(const QString &source, const QString &dest)
{
    TStatInfo st;
    uint32_t code = MakeDir(dest);
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
        code = StatPath(dest, true, st) == 0 && st.IsDir() ? ERROR_SUCCESS : code;
    std::vector<TDirEntry> entries;
    if (code == 0)
        code = ListDirectory(source, entries);
    for (const TDirEntry &entry : entries) {
        if (code != 0)
            break;
        const QString from = JoinPath(source, entry.Name);
        const QString to = JoinPath(dest, entry.Name);
        if (entry.Stat.IsLink()) {
            QString target;
            code = ReadSymLink(from, target);
            if (code == 0)
                code = CreateSymLink(to, target);
        } else if (entry.Stat.IsDir()) {
            code = CopyTree(from, to);
        } else if (entry.Stat.IsRegular()) {
            code = CopyFileItem(from, to);
        } // devices, pipes and sockets are no data to copy
    }
    return code;
}

uint32_t DeleteItem(const QString &name, uint32_t flags)
{
    if (flags & FOF_ALLOWUNDO)
        return MoveToTrash(name);
    TStatInfo st;
    if (const uint32_t code = StatPath(name, false, st))
        return code;
    if (!st.IsDir())
        return RemoveFile(name);
    return DeleteDirectoryTree(name, true) ? ERROR_SUCCESS : ERROR_DIR_NOT_EMPTY;
}

uint32_t CopyOrMoveItem(const QString &source, const QString &dest, bool copy)
{
    TStatInfo st, folder;
    if (const uint32_t code = StatPath(source, copy, st))
        return code;
    if (StatPath(ParentDirectory(dest), true, folder) != 0 || !folder.IsDir())
        return ERROR_PATH_NOT_FOUND;
    if (copy)
        return st.IsDir() ? CopyTree(source, dest) : CopyFileItem(source, dest);
    if (st.IsDir() || st.IsLink())
        return MoveNoReplace(source, dest);
    uint32_t code = RenameReplace(source, dest);
    if (code == ERROR_NOT_SAME_DEVICE && (code = CopyFileItem(source, dest)) == 0)
        code = RemoveFile(source);
    return code;
}

// One item: the error number.
uint32_t ItemOperation(const QString &Source, const QString &Dest, int Op, uint32_t Flags)
{
    const QString source = WithoutTrailingDelimiter(Source);
    if (source.isEmpty() || source == QLatin1String("/"))
        return ERROR_INVALID_PARAMETER;
    if (Op == FO_DELETE)
        return DeleteItem(source, Flags);
    const QString dest = WithoutTrailingDelimiter(Dest);
    if (dest.isEmpty() || dest == QLatin1String("/"))
        return ERROR_INVALID_PARAMETER;
    return CopyOrMoveItem(source, dest, Op == FO_COPY);
}

QStringList NameList(const QString &list)
{
    return list.split(QChar(0), Qt::SkipEmptyParts);
}

} // namespace

HRESULT ShellItemOperation(TWindowHandle /*Owner*/, const QString &Source, const QString &DestFile, int Op,
                           uint32_t Flags)
{
    return HResultFromError(ItemOperation(Source, DestFile, Op, Flags));
}

HRESULT ShellCopyItem(TWindowHandle Owner, const QString &Source, const QString &DestFile, bool Silent)
{
    const uint32_t flags = Silent ? FOF_SILENT | FOF_NOCONFIRMATION | FOF_FILESONLY | FOF_SIMPLEPROGRESS | FOF_NOERRORUI
                                        | FOF_NO_CONNECTED_ELEMENTS | FOFX_EARLYFAILURE
                                  : FOF_FILESONLY | FOF_NO_CONNECTED_ELEMENTS;
    return ShellItemOperation(Owner, Source, DestFile, FO_COPY, flags);
}

namespace {

uint32_t DeleteItemFlags(bool ToRecycleBin, bool Silent)
{
    uint32_t flags = FOF_NO_CONNECTED_ELEMENTS;
    if (ToRecycleBin)
        flags |= FOF_ALLOWUNDO;
    if (Silent)
        flags |= FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI | FOFX_EARLYFAILURE;
    return flags;
}

uint32_t DeleteFilesFlags(bool ToRecycleBin, bool Silent)
{
    uint32_t flags = FOF_MULTIDESTFILES | FOF_NO_CONNECTED_ELEMENTS;
    if (ToRecycleBin)
        flags |= FOF_ALLOWUNDO;
    if (Silent)
        flags |= FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    return flags;
}

} // namespace

HRESULT ShellDeleteFileItem(TWindowHandle Owner, const QString &FileName, bool ToRecycleBin, bool Silent)
{
    return ShellItemOperation(Owner, FileName, QString(), FO_DELETE, DeleteItemFlags(ToRecycleBin, Silent) | FOF_FILESONLY);
}

HRESULT ShellDeleteDirItem(TWindowHandle Owner, const QString &DirName, bool ToRecycleBin, bool Silent)
{
    return ShellItemOperation(Owner, WithTrailingDelimiter(DirName), QString(), FO_DELETE,
                              DeleteItemFlags(ToRecycleBin, Silent));
}

uint32_t ShellFileOperation(TWindowHandle /*Owner*/, const QString &FromList, const QString &ToList,
                            const QString & /*ProgressTitle*/, int Func, uint32_t Flags)
{
    const QStringList from = NameList(FromList);
    const QStringList to = NameList(ToList);
    if (from.isEmpty() || Func < FO_MOVE || Func > FO_RENAME)
        return ERROR_INVALID_PARAMETER;
    if (Func == FO_DELETE) {
        for (const QString &name : from)
            if (const uint32_t code = ItemOperation(name, QString(), Func, Flags))
                return code;
        return ERROR_SUCCESS;
    }
    if (to.isEmpty() || ((Flags & FOF_MULTIDESTFILES) && to.size() != from.size()))
        return ERROR_INVALID_PARAMETER;
    TStatInfo st;
    const bool intoFolder = !(Flags & FOF_MULTIDESTFILES)
                         && (from.size() > 1 || (StatPath(to.first(), true, st) == 0 && st.IsDir()));
    for (qsizetype i = 0; i < from.size(); ++i) {
        const QString dest = !intoFolder ? to[(Flags & FOF_MULTIDESTFILES) ? i : 0]
                                         : JoinPath(WithoutTrailingDelimiter(to.first()),
                                                    LastPathElement(WithoutTrailingDelimiter(from[i])));
        if (const uint32_t code = ItemOperation(from[i], dest, Func, Flags))
            return code;
    }
    return ERROR_SUCCESS;
}

uint32_t ShellCopyFiles(TWindowHandle Owner, const QString &FromList, const QString &ToList,
                        const QString &ProgressTitle, bool Silent)
{
    const uint32_t flags = Silent ? FOF_MULTIDESTFILES | FOF_SILENT | FOF_NOCONFIRMATION | FOF_FILESONLY
                                        | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI | FOF_NO_CONNECTED_ELEMENTS
                                  : FOF_MULTIDESTFILES | FOF_FILESONLY | FOF_NO_CONNECTED_ELEMENTS;
    return ShellFileOperation(Owner, FromList, ToList, ProgressTitle, FO_COPY, flags);
}

uint32_t ShellDeleteFiles(TWindowHandle Owner, const QString &FromList, const QString &ProgressTitle,
                          bool ToRecycleBin, bool Silent)
{
    return ShellFileOperation(Owner, FromList, QString(), ProgressTitle, FO_DELETE,
                              DeleteFilesFlags(ToRecycleBin, Silent) | FOF_FILESONLY);
}

uint32_t ShellDeleteDirs(TWindowHandle Owner, const QString &FromList, const QString &ProgressTitle,
                         bool ToRecycleBin, bool Silent)
{
    return ShellFileOperation(Owner, FromList, QString(), ProgressTitle, FO_DELETE,
                              DeleteFilesFlags(ToRecycleBin, Silent) | FOF_NOCONFIRMATION);
}

} // namespace vl
