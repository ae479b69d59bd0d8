#include "engine/VssWriters.h"

#include "core/Drives.h"
#include "core/Format.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>

namespace vl {

namespace {

const QString kBackslash = QStringLiteral("\\");

void WriteLine(const TOutputString &log, const QString &line)
{
    if (log)
        log(line);
}

bool SameText(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString YesNo(bool value)
{
    return value ? QStringLiteral("Yes") : QStringLiteral("No");
}

void AddSortedUnique(QStringList &list, const QString &value)
{
    const auto it = std::lower_bound(list.begin(), list.end(), value);
    if (it == list.end() || *it != value)
        list.insert(it, value);
}

QString WithLeadingBackslash(const QString &s)
{
    return s.startsWith(kBackslash) ? s : kBackslash + s;
}

QString BuildFullPath(const QString &logicalPath, const QString &name)
{
    if (logicalPath.isEmpty())
        return WithLeadingBackslash(name);
    return WithLeadingBackslash(logicalPath) + kBackslash + name;
}

// The writer by name, writer id or instance id.
bool WriterNamed(const TVssWriter &w, const QString &entry)
{
    return SameText(w.WriterName, entry) || SameText(w.WriterId, entry) || SameText(w.InstanceId, entry);
}

// The component as writer + ":" + FullPath, the writer in any of its forms.
bool ComponentNamed(const TVssWriter &w, const TVssComponent &c, const QString &entry)
{
    const QString tail = QLatin1Char(':') + c.FullPath;
    return SameText(w.WriterName + tail, entry) || SameText(w.WriterId + tail, entry)
        || SameText(w.InstanceId + tail, entry);
}

[[noreturn]] void RaiseInvalidArg()
{
    throw EOleSysError(QString(), E_INVALIDARG);
}

// A getter that must hand back an object: a failing call raises, and so does
// an empty result, as unexpected.
template <class T, class Get>
std::shared_ptr<T> GetChecked(Get get, const QString &text, const TOutputString &log)
{
    std::shared_ptr<T> item;
    CheckComCall(get(item), text, log);
    if (!item)
        CheckComCall(E_UNEXPECTED, text, log);
    return item;
}

} // namespace

// ---- TVssFileDescriptor ----

TVssFileDescriptor::TVssFileDescriptor(TOutputString writeLineToLog) : fWriteLineToLog(std::move(writeLineToLog)) {}

void TVssFileDescriptor::Initialize(IVssWMFiledesc &pFileDesc, VSS_DESCRIPTOR_TYPE typeParam)
{
    fdType = typeParam;
    CheckComCall(pFileDesc.GetPath(path), QStringLiteral("TVssFileDescriptor.Initialize:pFileDesc.GetPath"),
                 fWriteLineToLog);
    CheckComCall(pFileDesc.GetFilespec(filespec),
                 QStringLiteral("TVssFileDescriptor.Initialize:pFileDesc.GetFilespec"), fWriteLineToLog);
    bool recursive = false;
    CheckComCall(pFileDesc.GetRecursive(recursive),
                 QStringLiteral("TVssFileDescriptor.Initialize:pFileDesc.GetRecursive"), fWriteLineToLog);
    isRecursive = recursive;
    CheckComCall(pFileDesc.GetAlternateLocation(alternatePath),
                 QStringLiteral("TVssFileDescriptor.Initialize:pFileDesc.GetAlternateLocation"), fWriteLineToLog);
    if (!path.isEmpty()) {
        ExpandedPath = ExpandEnvironmentStrings(path);
        if (!ExpandedPath.endsWith(QLatin1Char('/')))
            ExpandedPath += QLatin1Char('/');
    }
    if (!VolumeNameForPath(ExpandedPath, AffectedVolume))
        AffectedVolume = ExpandedPath;
}

void TVssFileDescriptor::Print() const
{
    if (!fWriteLineToLog)
        return;
    QString typeText;
    switch (fdType) {
    case VSS_FDT_EXCLUDE_FILES: typeText = QStringLiteral("Exclude"); break;
    case VSS_FDT_FILELIST: typeText = QStringLiteral("File List"); break;
    case VSS_FDT_DATABASE: typeText = QStringLiteral("Database"); break;
    case VSS_FDT_DATABASE_LOG: typeText = QStringLiteral("Database Log"); break;
    default: typeText = QStringLiteral("Undefined"); break;
    }
    QString tail;
    if (isRecursive) {
        tail = QStringLiteral(" Recursive : ") + QStringLiteral("Yes");
        if (!alternatePath.isEmpty())
            tail += QStringLiteral(" ,Alternate Location = ") + alternatePath;
    }
    fWriteLineToLog(GuardedFormat(QStringLiteral("      - %s : Path = %s, Filespec = %s%s"), typeText, path,
                                  filespec, tail));
}

// ---- TVssComponent ----

TVssComponent::TVssComponent(TOutputString writeLineToLog) : fWriteLineToLog(std::move(writeLineToLog)) {}

void TVssComponent::Initialize(const QString &WriterNameParam, IVssWMComponent &pComponent)
{
    WriterName = WriterNameParam;
    PVSSCOMPONENTINFO info;
    CheckComCall(pComponent.GetComponentInfo(info),
                 QStringLiteral("TVssComponent.Initialize:pComponent.GetComponentInfo"), fWriteLineToLog);
    const VSS_COMPONENTINFO none;
    const VSS_COMPONENTINFO &ci = info ? *info : none;
    CompName = ci.bstrComponentName;
    LogicalPath = ci.bstrLogicalPath;
    Caption = ci.bstrCaption;
    CompType = ci.type;
    IsSelectable = ci.bSelectable;
    NotifyOnBackupComplete = ci.bNotifyOnBackupComplete;
    FullPath = BuildFullPath(LogicalPath, CompName);

    struct TKind {
        uint32_t Count;
        HRESULT (IVssWMComponent::*Get)(uint32_t, std::shared_ptr<IVssWMFiledesc> &);
        VSS_DESCRIPTOR_TYPE Type;
        const char *Text;
    };
    const TKind kinds[] = {
        {ci.cFileCount, &IVssWMComponent::GetFile, VSS_FDT_FILELIST, "TVssComponent.Initialize:pComponent.GetFile"},
        {ci.cDatabases, &IVssWMComponent::GetDatabaseFile, VSS_FDT_DATABASE,
         "TVssComponent.Initialize:pComponent.GetDatabaseFile"},
        {ci.cLogFiles, &IVssWMComponent::GetDatabaseLogFile, VSS_FDT_DATABASE_LOG,
         "TVssComponent.Initialize:pComponent.GetDatabaseLogFile"},
    };
    for (const TKind &kind : kinds) {
        for (uint32_t i = 0; i < kind.Count; ++i) {
            const auto fd = GetChecked<IVssWMFiledesc>([&](auto &item) { return (pComponent.*kind.Get)(i, item); },
                                                       QString::fromLatin1(kind.Text), fWriteLineToLog);
            auto d = std::make_unique<TVssFileDescriptor>(fWriteLineToLog);
            d->Initialize(*fd, kind.Type);
            Descriptors.push_back(std::move(d));
        }
    }
    pComponent.FreeComponentInfo(info);
    for (const auto &d : Descriptors) {
        AddSortedUnique(AffectedPaths, d->ExpandedPath);
        AddSortedUnique(AffectedVolumes, d->AffectedVolume);
    }
}

void TVssComponent::Initialize(const QString &WriterNameParam, IVssComponent &pComponent)
{
    WriterName = WriterNameParam;
    CheckComCall(pComponent.GetComponentType(CompType),
                 QStringLiteral("TVssComponent.Initialize:pComponent.GetComponentType"), fWriteLineToLog);
    CheckComCall(pComponent.GetComponentName(CompName),
                 QStringLiteral("TVssComponent.Initialize:pComponent.GetComponentName"), fWriteLineToLog);
    CheckComCall(pComponent.GetLogicalPath(LogicalPath),
                 QStringLiteral("TVssComponent.Initialize:pComponent.GetLogicalPath"), fWriteLineToLog);
    FullPath = BuildFullPath(LogicalPath, CompName);
}

QString TVssComponent::GetStringFromComponentType(VSS_COMPONENT_TYPE eComponentType)
{
    switch (eComponentType) {
    case VSS_CT_DATABASE: return QStringLiteral("VSS_CT_DATABASE");
    case VSS_CT_FILEGROUP: return QStringLiteral("VSS_CT_FILEGROUP");
    default: return QStringLiteral("Unknown constant");
    }
}

bool TVssComponent::IsAncestorOf(const TVssComponent &descendent) const
{
    if (FullPath.size() >= descendent.FullPath.size())
        return false;
    return (descendent.FullPath + kBackslash).startsWith(FullPath + kBackslash, Qt::CaseInsensitive);
}

bool TVssComponent::CanBeExplicitlyIncluded() const
{
    return !IsExcluded && (IsSelectable || IsTopLevel);
}

void TVssComponent::Print(bool bListDetailedInfo) const
{
    if (!fWriteLineToLog)
        return;
    fWriteLineToLog(GuardedFormat(
        QStringLiteral("    - Component: \"%s:%s\"\r\n      - Name: \"%s\"\r\n      - Logical Path: \"%s\"\r\n"
                       "      - Full Path: \"%s\"\r\n      - Caption: \"%s\"\r\n      - Type: %s [%d]\r\n"
                       "      - Is Selectable: %s\r\n      - Is top level: %s\r\n"
                       "      - Notify on backup complete: %s"),
        WriterName, FullPath, CompName, LogicalPath, FullPath, Caption, GetStringFromComponentType(CompType),
        static_cast<int32_t>(CompType), YesNo(IsSelectable), YesNo(IsTopLevel), YesNo(NotifyOnBackupComplete)));
    if (!bListDetailedInfo)
        return;
    fWriteLineToLog(GuardedFormat(QStringLiteral("      - Components (%u):"), uint32_t(Descriptors.size())));
    for (const auto &d : Descriptors)
        d->Print();
    fWriteLineToLog(GuardedFormat(QStringLiteral("        - Affected paths by this component (%u):"),
                                  uint32_t(AffectedPaths.size())));
    for (const QString &p : AffectedPaths)
        fWriteLineToLog(GuardedFormat(QStringLiteral("          - %s"), p));
    fWriteLineToLog(GuardedFormat(QStringLiteral("        - Affected volumes by this component (%u):"),
                                  uint32_t(AffectedVolumes.size())));
    for (const QString &v : AffectedVolumes) {
        QString mount;
        if (ShortestMountPath(v, mount))
            fWriteLineToLog(GuardedFormat(QStringLiteral("          - %s [%s]"), v, mount));
        else
            fWriteLineToLog(GuardedFormat(QStringLiteral("          - %s [Not valid for local machine]"), v));
    }
}

// ---- TVssWriter ----

TVssWriter::TVssWriter(TOutputString writeLineToLog) : fWriteLineToLog(std::move(writeLineToLog)) {}

void TVssWriter::Initialize(IVssExamineWriterMetadata &Metadata)
{
    VSS_ID instance, writer;
    QString name;
    VSS_USAGE_TYPE usage = VSS_UT_UNDEFINED;
    VSS_SOURCE_TYPE source = VSS_ST_UNDEFINED;
    CheckComCall(Metadata.GetIdentity(instance, writer, name, usage, source),
                 QStringLiteral("TVssWriter.Initialize:Metadata.GetIdentity"), fWriteLineToLog);
    QString service, userProcedure;
    bool reboot = false;
    uint32_t mappings = 0;
    CheckComCall(Metadata.GetRestoreMethod(RestoreMethod, service, userProcedure, WriterRestoreConditions, reboot,
                                           mappings),
                 QStringLiteral("TVssWriter.Initialize:Metadata.GetRestoreMethod"), fWriteLineToLog);
    RebootRequiredAfterRestore = reboot;
    WriterName = name;
    WriterId = GuidToString(writer);
    InstanceId = GuidToString(instance);
    supportsRestore = WriterRestoreConditions != VSS_WRE_NEVER;

    uint32_t includeFiles = 0, excludeFiles = 0, components = 0;
    CheckComCall(Metadata.GetFileCounts(includeFiles, excludeFiles, components),
                 QStringLiteral("TVssWriter.Initialize:Metadata.GetFileCounts"), fWriteLineToLog);
    for (uint32_t i = 0; i < excludeFiles; ++i) {
        const auto fd = GetChecked<IVssWMFiledesc>([&](auto &item) { return Metadata.GetExcludeFile(i, item); },
                                                   QStringLiteral("TVssWriter.Initialize:Metadata.GetExcludeFile"),
                                                   fWriteLineToLog);
        auto d = std::make_unique<TVssFileDescriptor>(fWriteLineToLog);
        d->Initialize(*fd, VSS_FDT_EXCLUDE_FILES);
        ExcludedFiles.push_back(std::move(d));
    }
    for (uint32_t i = 0; i < components; ++i) {
        const auto mc = GetChecked<IVssWMComponent>([&](auto &item) { return Metadata.GetComponent(i, item); },
                                                    QStringLiteral("TVssWriter.Initialize:Metadata.GetComponent"),
                                                    fWriteLineToLog);
        auto c = std::make_unique<TVssComponent>(fWriteLineToLog);
        c->Initialize(WriterName, *mc);
        Components.push_back(std::move(c));
    }
    for (const auto &c : Components) {
        c->IsTopLevel = true;
        for (const auto &other : Components)
            if (other->IsAncestorOf(*c)) {
                c->IsTopLevel = false;
                break;
            }
    }
}

void TVssWriter::InitializeComponentsForRestore(IVssWriterComponentsExt &WriterComponents)
{
    Components.clear();
    uint32_t count = 0;
    CheckComCall(WriterComponents.GetComponentCount(count),
                 QStringLiteral("TVssWriter.InitializeComponentsForRestore:WriterComponents.GetComponentCount"),
                 fWriteLineToLog);
    for (uint32_t i = 0; i < count; ++i) {
        const auto rc = GetChecked<IVssComponent>(
            [&](auto &item) { return WriterComponents.GetComponent(i, item); },
            QStringLiteral("TVssWriter.InitializeComponentsForRestore:WriterComponents.GetComponent"), fWriteLineToLog);
        auto c = std::make_unique<TVssComponent>(fWriteLineToLog);
        c->Initialize(WriterName, *rc);
        WriteLine(fWriteLineToLog,
                  GuardedFormat(QStringLiteral("- Found component available for restore : \"%s\""), c->FullPath));
        Components.push_back(std::move(c));
    }
}

QString TVssWriter::GetStringFromRestoreMethod(VSS_RESTOREMETHOD_ENUM eRestoreMethod)
{
    static const char *const names[] = {"VSS_RME_UNDEFINED",
                                        "VSS_RME_RESTORE_IF_NOT_THERE",
                                        "VSS_RME_RESTORE_IF_CAN_REPLACE",
                                        "VSS_RME_STOP_RESTORE_START",
                                        "VSS_RME_RESTORE_TO_ALTERNATE_LOCATION",
                                        "VSS_RME_RESTORE_AT_REBOOT",
                                        "VSS_RME_RESTORE_AT_REBOOT_IF_CANNOT_REPLACE",
                                        "VSS_RME_CUSTOM",
                                        "VSS_RME_RESTORE_STOP_START"};
    const int i = static_cast<int>(eRestoreMethod);
    return i >= 0 && i <= 8 ? QString::fromLatin1(names[i]) : QStringLiteral("Undefined");
}

QString TVssWriter::GetStringFromRestoreConditions(VSS_WRITERRESTORE_ENUM eRestoreEnum)
{
    static const char *const names[] = {"VSS_WRE_UNDEFINED", "VSS_WRE_NEVER", "VSS_WRE_IF_REPLACE_FAILS",
                                        "VSS_WRE_ALWAYS"};
    const int i = static_cast<int>(eRestoreEnum);
    return i >= 0 && i <= 3 ? QString::fromLatin1(names[i]) : QStringLiteral("Undefined");
}

void TVssWriter::Print(bool bListDetailedInfo) const
{
    if (!fWriteLineToLog)
        return;
    fWriteLineToLog(GuardedFormat(
        QStringLiteral("\r\n* WRITER \"%s\"\r\n    - WriterId   = %s\r\n    - InstanceId = %s\r\n"
                       "    - Supports restore events = %s\r\n    - Writer restore conditions = %s\r\n"
                       "    - Restore method = %s\r\n    - Requires reboot after restore = %s\r\n"),
        WriterName, WriterId, InstanceId, YesNo(supportsRestore),
        GetStringFromRestoreConditions(WriterRestoreConditions), GetStringFromRestoreMethod(RestoreMethod),
        YesNo(RebootRequiredAfterRestore)));
    fWriteLineToLog(GuardedFormat(QStringLiteral("    - Excluded files (%u):"), uint32_t(ExcludedFiles.size())));
    for (const auto &d : ExcludedFiles)
        d->Print();
    for (const auto &c : Components)
        c->Print(bListDetailedInfo);
}

// ---- Selection ----

void DiscoverDirectlyExcludedComponents(TVssWriterList &Writers, const QStringList *ExcludedWriterAndComponentList,
                                        const TOutputString &Log)
{
    for (auto &w : Writers) {
        bool named = false;
        if (ExcludedWriterAndComponentList)
            for (const QString &entry : *ExcludedWriterAndComponentList)
                if (WriterNamed(*w, entry)) {
                    named = true;
                    break;
                }
        if (named) {
            w->IsExcluded = true;
            continue;
        }
        bool anyIncluded = false;
        for (auto &c : w->Components) {
            bool excluded = false;
            if (ExcludedWriterAndComponentList)
                for (const QString &entry : *ExcludedWriterAndComponentList)
                    if (ComponentNamed(*w, *c, entry)) {
                        excluded = true;
                        break;
                    }
            if (excluded) {
                c->IsExcluded = true;
                WriteLine(Log, GuardedFormat(
                                   QStringLiteral("- Component \"%s\" from writer \"%s\" is explicitly excluded from backup"),
                                   c->FullPath, w->WriterName));
            }
            if (!c->IsExcluded)
                anyIncluded = true;
        }
        if (!anyIncluded) {
            WriteLine(Log,
                      GuardedFormat(QStringLiteral("- Excluding writer \"%s\" since it has no selected components for restore."),
                                    w->WriterName));
            w->IsExcluded = true;
        }
    }
}

void DiscoverComponentsOutsideShadowSet(TVssWriterList &Writers, const QStringList &ShadowSourceVolumes,
                                        const TOutputString &Log)
{
    for (auto &w : Writers) {
        WriteLine(Log, GuardedFormat(QStringLiteral(" * Writer: \"%s\":"), w->WriterName));
        if (w->IsExcluded) {
            WriteLine(Log, QStringLiteral("  - Excluded"));
            continue;
        }
        for (auto &c : w->Components) {
            WriteLine(Log, GuardedFormat(QStringLiteral("  * Component: \"%s\":"), c->FullPath));
            if (c->IsExcluded) {
                WriteLine(Log, QStringLiteral("  - Excluded"));
                continue;
            }
            for (QString volume : c->AffectedVolumes) {
                if (ClusterIsPathOnSharedVolume(volume)) {
                    QString name;
                    if (ClusterGetVolumeNameForVolumeMountPoint(volume, name))
                        volume = name;
                }
                if (std::any_of(ShadowSourceVolumes.begin(), ShadowSourceVolumes.end(),
                                [&](const QString &entry) { return SameVolume(volume, entry); }))
                    continue;
                c->IsExcluded = true;
                QString mount;
                if (ShortestMountPath(volume, mount))
                    WriteLine(Log, GuardedFormat(QStringLiteral("    Component \"%s\" from writer \"%s\" is excluded from "
                                                                "backup (it requires \"%s\" in the shadow set)"),
                                                 c->FullPath, w->WriterName, mount));
                else
                    WriteLine(Log, GuardedFormat(QStringLiteral("    Component \"%s\" from writer \"%s\" is excluded from backup"),
                                                 c->FullPath, w->WriterName));
                break;
            }
        }
    }
}

void DiscoverAllExcludedComponents(TVssWriterList &Writers, const TOutputString &Log)
{
    for (auto &w : Writers) {
        if (w->IsExcluded)
            continue;
        for (auto &c : w->Components) {
            for (const auto &d : w->Components) {
                if (c->IsAncestorOf(*d) && d->IsExcluded) {
                    c->IsExcluded = true;
                    WriteLine(Log, GuardedFormat(QStringLiteral("- Component \"%s\" from writer \"%s\" is excluded from "
                                                                "backup (it has an excluded descendent: %s)"),
                                                 c->FullPath, w->WriterName, d->CompName));
                    break;
                }
            }
        }
    }
}

void DiscoverExcludedWriters(TVssWriterList &Writers, const TOutputString &Log)
{
    for (auto &w : Writers) {
        if (w->IsExcluded)
            continue;
        bool includable = false;
        for (const auto &c : w->Components)
            if (c->CanBeExplicitlyIncluded()) {
                includable = true;
                break;
            }
        if (!includable) {
            w->IsExcluded = true;
            WriteLine(Log, GuardedFormat(QStringLiteral("- The writer \"%s\" is now entirely excluded from the backup:"),
                                         w->WriterName));
            WriteLine(Log, QStringLiteral("  (it does not contain any components that can be potentially included in the backup)"));
            continue;
        }
        for (const auto &c : w->Components) {
            if (c->IsTopLevel && !c->IsSelectable && c->IsExcluded) {
                w->IsExcluded = true;
                WriteLine(Log, GuardedFormat(QStringLiteral("- The writer \"%s\" is now entirely excluded from the backup:"),
                                             w->WriterName));
                WriteLine(Log, GuardedFormat(QStringLiteral("  (the top-level non-selectable component \"%s\" is an "
                                                            "excluded component)"),
                                             c->FullPath));
                break;
            }
        }
    }
}

void DiscoverExplicitlyIncludedComponents(TVssWriterList &Writers)
{
    for (auto &w : Writers) {
        if (w->IsExcluded)
            continue;
        for (auto &c : w->Components) {
            if (!c->CanBeExplicitlyIncluded())
                continue;
            bool ancestorIncludable = false;
            for (const auto &a : w->Components)
                if (a->IsAncestorOf(*c) && a->CanBeExplicitlyIncluded()) {
                    ancestorIncludable = true;
                    break;
                }
            c->IsExplicitlyIncluded = !ancestorIncludable;
        }
    }
}

void VerifyExplicitlyIncludedComponent(const TVssWriterList &Writers, const QString &Entry, bool DuringRestore,
                                       const TOutputString &Log)
{
    WriteLine(Log, GuardedFormat(QStringLiteral("- Verifing component \"%s\" ..."), Entry));
    for (const auto &w : Writers) {
        if (w->IsExcluded)
            continue;
        for (const auto &c : w->Components) {
            if (c->IsExcluded || !ComponentNamed(*w, *c, Entry))
                continue;
            bool included = DuringRestore || c->IsExplicitlyIncluded;
            if (!included)
                for (const auto &a : w->Components)
                    if (a->IsAncestorOf(*c) && a->IsExplicitlyIncluded) {
                        included = true;
                        break;
                    }
            if (included) {
                WriteLine(Log, GuardedFormat(QStringLiteral(" - The component \"%s\" is selected"), Entry));
                return;
            }
            WriteLine(Log, GuardedFormat(QStringLiteral("ERROR : The component \"%s\" was not included in the backup! "
                                                        "Aborting backup ..."),
                                         Entry));
            WriteLine(Log, QStringLiteral("- Please reveiw the component/subcomponent definitions"));
            WriteLine(Log, QStringLiteral("- Also, please verify list of volumes to be shadow copied."));
            RaiseInvalidArg();
        }
    }
    WriteLine(Log, GuardedFormat(QStringLiteral("ERROR : The component \"%s\" was not found in the writer components "
                                                "list! Aborting backup ..."),
                                 Entry));
    WriteLine(Log, QStringLiteral("- Please check the syntax of the component name."));
    RaiseInvalidArg();
}

void VerifyExplicitlyIncludedWriter(const TVssWriterList &Writers, const QString &Entry, const TOutputString &Log)
{
    WriteLine(Log, GuardedFormat(QStringLiteral("- Verifing that all components of writer \"%s\" are included in backup ..."),
                                 Entry));
    for (const auto &w : Writers) {
        if (!WriterNamed(*w, Entry))
            continue;
        if (w->IsExcluded) {
            WriteLine(Log, GuardedFormat(QStringLiteral("ERROR : The writer \"%s\" was not included in the backup! "
                                                        "Aborting backup ..."),
                                         Entry));
            WriteLine(Log, QStringLiteral("- Please review the component/subcomponent definitions"));
            WriteLine(Log, QStringLiteral("- Also, please verify list of volumes to be shadow copied."));
            RaiseInvalidArg();
        }
        for (const auto &c : w->Components) {
            if (!c->IsExcluded)
                continue;
            WriteLine(Log, GuardedFormat(QStringLiteral("ERROR : The writer \"%s\" has components not included in the "
                                                        "backup! Aborting backup ..."),
                                         Entry));
            WriteLine(Log, GuardedFormat(QStringLiteral("- The component \"%s\" was not included in the backup."),
                                         c->FullPath));
            WriteLine(Log, QStringLiteral("- Please reveiw the component/subcomponent definitions"));
            WriteLine(Log, QStringLiteral("- Also, please verify list of volumes to be shadow copied."));
            RaiseInvalidArg();
        }
        WriteLine(Log, GuardedFormat(QStringLiteral("  - All components from writer \"%s\" are selected"), Entry));
        return;
    }
    WriteLine(Log, GuardedFormat(QStringLiteral("ERROR : The writer \"%s\" was not found! Aborting backup ..."), Entry));
    WriteLine(Log, QStringLiteral("- Please check the syntax of the writer name/id."));
    RaiseInvalidArg();
}

void SelectExplicitelyIncludedComponents(const TVssWriterList &Writers, IVssBackupComponents &Components,
                                         const TOutputString &Log)
{
    for (const auto &w : Writers) {
        if (w->IsExcluded)
            continue;
        WriteLine(Log, GuardedFormat(QStringLiteral(" * Writer \"%s\":"), w->WriterName));
        VSS_ID instance, writer;
        StringToGuid(w->InstanceId, instance);
        StringToGuid(w->WriterId, writer);
        for (const auto &c : w->Components) {
            if (!c->IsExplicitlyIncluded)
                continue;
            WriteLine(Log, GuardedFormat(QStringLiteral("  - Add component %s"), c->FullPath));
            CheckComCall(Components.AddComponent(instance, writer, c->CompType, c->LogicalPath, c->CompName),
                         QStringLiteral("TVolumeShadowCopy.SelectExplicitelyIncludedComponents:VssBackupComponents.AddComponent"),
                         Log);
        }
    }
}

void SelectComponentsForBackup(TVssWriterList &Writers, const QStringList &ShadowSourceVolumes,
                               const QStringList *ExcludedWriterAndComponentList,
                               const QStringList *IncludedWriterAndComponentList, bool DuringRestore,
                               IVssBackupComponents &Components, const TOutputString &Log,
                               const std::function<void(int)> &ShowStatus)
{
    const auto status = [&](int index) {
        if (ShowStatus)
            ShowStatus(index);
    };
    status(5);
    DiscoverDirectlyExcludedComponents(Writers, ExcludedWriterAndComponentList, Log);
    status(6);
    DiscoverComponentsOutsideShadowSet(Writers, ShadowSourceVolumes, Log);
    status(7);
    DiscoverAllExcludedComponents(Writers, Log);
    status(8);
    DiscoverExcludedWriters(Writers, Log);
    status(9);
    DiscoverExplicitlyIncludedComponents(Writers);
    WriteLine(Log, QStringLiteral("Verifying explicitly specified writers/components ..."));
    if (IncludedWriterAndComponentList)
        for (const QString &entry : *IncludedWriterAndComponentList) {
            if (entry.contains(QLatin1Char(':')))
                VerifyExplicitlyIncludedComponent(Writers, entry, DuringRestore, Log);
            else
                VerifyExplicitlyIncludedWriter(Writers, entry, Log);
        }
    status(10);
    SelectExplicitelyIncludedComponents(Writers, Components, Log);
}

void ListWriterMetadata(const TVssWriterList &Writers, bool bListDetailedInfo, const TOutputString &Log)
{
    if (!Log)
        return;
    Log(QStringLiteral("Listing writer metadata ..."));
    for (const auto &w : Writers)
        w->Print(bListDetailedInfo);
}

// ---- Volumes ----

bool VolumeNameForPath(const QString &Path, QString &VolumeName)
{
    VolumeName.clear();
    if (Path.isEmpty())
        return false;
    QString path = Path;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    if (ClusterIsPathOnSharedVolume(path))
        return ClusterGetVolumePathName(path, VolumeName) && !VolumeName.isEmpty();
    const QList<TVolume> volumes = ListVolumes();
    TVolume v;
    if (!FindPathVolume(volumes, path, v))
        return false;
    GetVolumeGuidPath(v.MountPoint, VolumeName);
    if (VolumeName.isEmpty())
        return false;
    // A snapshot of a device stands for its shortest mount. Where this mount
    // shows another folder of the file system (a btrfs subvolume, a bind
    // mount), the mount point names the volume, so that the snapshot set and
    // the writers' file sets name it alike.
    const TVolume *shortest = nullptr;
    for (const TVolume &m : volumes)
        if (m.Source == VolumeName && (!shortest || m.MountPoint.size() < shortest->MountPoint.size()))
            shortest = &m;
    if (shortest && shortest->MountPoint != v.MountPoint
        && QDir::cleanPath(shortest->FsRoot) != QDir::cleanPath(v.FsRoot))
        VolumeName = v.MountPoint;
    return true;
}

bool SameVolume(const QString &VolumeName, const QString &Other)
{
    if (VolumeName.compare(Other, Qt::CaseInsensitive) == 0)
        return true;
    // A mount point given for a volume stands for the volume mounted there.
    TVolume v;
    QString name;
    return FindMountPointVolume(ListVolumes(), Other, v) && VolumeNameForPath(v.MountPoint, name)
        && name.compare(VolumeName, Qt::CaseInsensitive) == 0;
}

bool ShortestMountPath(const QString &VolumeName, QString &Path)
{
    Path.clear();
    if (VolumeName.isEmpty())
        return false;
    const QList<TVolume> volumes = ListVolumes();
    for (const TVolume &v : volumes)
        if (v.Source == VolumeName && (Path.isEmpty() || v.MountPoint.size() < Path.size()))
            Path = v.MountPoint;
    if (Path.isEmpty()) {
        TVolume v;
        if (VolumeName.startsWith(QLatin1Char('/')) && FindMountPointVolume(volumes, VolumeName, v))
            Path = v.MountPoint;
    }
    return !Path.isEmpty();
}

QString ExpandEnvironmentStrings(const QString &Path)
{
    static const QRegularExpression names(QStringLiteral("%([^%/]+)%|\\$\\{([^}]+)\\}"));
    QString result;
    qsizetype last = 0;
    auto it = names.globalMatch(Path);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString name = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
        const QByteArray value = qgetenv(name.toLocal8Bit().constData());
        result += Path.mid(last, m.capturedStart() - last);
        if (qEnvironmentVariableIsSet(name.toLocal8Bit().constData()))
            result += QString::fromLocal8Bit(value);
        else
            result += m.captured(0);
        last = m.capturedEnd();
    }
    result += Path.mid(last);
    return result;
}

} // namespace vl
