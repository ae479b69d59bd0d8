// The preview of a source entry: what a run would take (or leave out),
// listed without copying anything.
#include "backup/BackupForm.h"

#include "backup/FileSelection.h"
#include "core/DateTime.h"
#include "core/FileInfo.h"
#include "core/FileSearch.h"
#include "core/PathUtils.h"
#include "core/ProgramTexts.h"
#include "platform/FileSystem.h"
#include "platform/Thread.h"

#include <cmath>

namespace vl {

void TBackupForm::ScanPreview(const QString &SourceRoot, const QString &SubDir, const QString &RealParent,
                              bool ParentIncluded, bool Excluded, bool FullPaths, bool UseArchive, int &Count,
                              int64_t &Bytes, TStringList &Lines, const TExtensionList &List)
{
    Heute = std::floor(Now());
    TWalkAncestors ancestors;
    ScanPreviewDir(SourceRoot, SubDir, RealParent, ParentIncluded, Excluded, FullPaths, UseArchive, Count, Bytes,
                   Lines, List, ancestors);
}

void TBackupForm::ScanPreviewDir(const QString &SourceRoot, const QString &SubDir, const QString &RealParent,
                                 bool ParentIncluded, bool Excluded, bool FullPaths, bool UseArchive, int &Count,
                                 int64_t &Bytes, TStringList &Lines, const TExtensionList &List,
                                 TWalkAncestors &AAncestors)
{
    const QString D = WithTrailingDelimiter(WithTrailingDelimiter(SourceRoot) + SubDir);
    QString R = D;
    if (!SubDir.isEmpty()) {
        uint32_t attr = faInvalid;
        GetFileAttr(WithTrailingDelimiter(SourceRoot) + SubDir, false, attr);
        QString target;
        if (ReadReparseTarget(D, attr, target)) {
            if (!UseJunctions || target.isEmpty() || DirContainsPath(target, RealParent))
                return;
            R = target;
        }
    }
    // A cycle through several links (or one the text test cannot see).
    if (!AAncestors.Enter(D))
        return;
    struct TLeave {
        TWalkAncestors &A;
        ~TLeave() { A.Leave(); }
    } leave{AAncestors};

    bool F;
    bool passIncluded;
    const bool inList = List.SubDirList.IndexOf(D) >= 0;
    if (List.IncludeDirs || Excluded) {
        F = ParentIncluded || inList;
        passIncluded = F;
    } else {
        F = !inList;
        passIncluded = ParentIncluded;
    }

    const QString path = FullPaths ? JoinPath(SourceRoot, SubDir)
                                   : (SubDir.isEmpty() ? QStringLiteral("./") : QStringLiteral("./") + SubDir);
    bool listed = false;
    TSearchRec sr;
    if (F == Excluded) {
        Lines.Add(QLatin1Char('#') + path);
    } else {
        const int dirLine = Lines.Add(QLatin1Char('*') + path);
        int fileCount = 0;
        const bool byArchive = UseArchive && UseArchivCB.Checked()
                               && (cbArchFile.Checked() || ClearDest || DestMode >= 4);
        if (FindFirst(D + QStringLiteral("*.*"), faAnyFileNoDirs, sr) == 0) {
            do {
                if (!IsRegularDirName(sr.Name)
                    || sr.Name.compare(QLatin1String("Velkor.lock"), Qt::CaseInsensitive) == 0)
                    continue;
                TFileInfo info;
                SearchRecToFileInfo(sr, info);
                QString ext;
                const bool sel = IsFileTypeSelected(info.Name, List, ext) && IsFileInfoSelected(info, List);
                bool take = sel != Excluded;
                if (byArchive)
                    take = sel && (((info.Attr & faArchive) != 0) != Excluded);
                if (take) {
                    const TDateTime time =
                        List.TmPeriod.TmRef == TTimeRef::trCreate ? info.CreationTime : info.DateTime;
                    Lines.Add(QLatin1Char(' ') + info.Name + QLatin1Char('|')
                              + FormatDateTime(QStringLiteral("c"), time) + QLatin1Char('|')
                              + ByteSizeText(false, info.Size));
                    ++Count;
                    Bytes += info.Size;
                    ++fileCount;
                }
                ProcessMessages();
            } while (FindNext(sr) == 0);
            FindClose(sr);
        }
        Lines.SetObject(dirLine, QVariant(fileCount));
        listed = true;
    }

    if (!listed && Excluded == List.IncludeDirs)
        return;
    if (FindFirst(D + QStringLiteral("*.*"), faAnyFile, sr) != 0)
        return;
    do {
        if ((sr.Attr & faDirectory) == 0 || !IsRegularDirName(sr.Name))
            continue;
        ScanPreviewDir(SourceRoot, JoinPath(SubDir, sr.Name), R, passIncluded, Excluded, FullPaths, UseArchive,
                       Count, Bytes, Lines, List, AAncestors);
    } while (FindNext(sr) == 0);
    FindClose(sr);
}

} // namespace vl
