// vl_bench: backs up one file or a folder tree in one of the per-file backup
// forms exactly as the backup run does (one TWinCopyThread per file, 4 MiB
// buffer, attributes and time stamps), or into one zip archive (TZipWrite,
// deflate at the writer's level), and reports the elapsed time and the peak
// memory of the process. bench/run compares it with reference tools.
//
//   vl_bench copy|gzip|gzenc|zip|zipaes SOURCE DEST [--no-progress] [--buffer BYTES]
//            [--password PW]
//   vl_bench task SOURCE DEST TASKFILE
//
// SOURCE a file: DEST is the backup file's name (".gz"/".gze" appended).
// SOURCE a folder: DEST is created and the tree is mirrored below it; the
// folders are created before the files are copied, as the backup run does.
// zip, zipaes: DEST + ".zip" is the archive; its entries are named relative
// to SOURCE's parent folder (SOURCE's own name leads every name), folders
// added before their contents. zipaes encrypts with AES-256 (key mode 3).
// --buffer 0 takes the zip writer's default buffer.
//
// task: writes TASKFILE as the editor saves a new task with the program's
// default settings: SOURCE backed up to DEST with method 1 (folders as at
// the source), update mode, no compression, the default log level. It
// prints "TARGET <folder>", where the run mirrors SOURCE, and "LOGLEVEL
// <level>"; bench/run runs the task with the program.
//
// Any failed file aborts the run with exit code 2: a benchmark of a copy
// that does not work would measure nothing.

#include "backup/BackupForm.h"
#include "core/Destinations.h"
#include "core/Settings.h"
#include "engine/Encryption.h"
#include "engine/WinCopyThread.h"
#include "engine/ZipWrite.h"
#include "core/FileSearch.h"
#include "core/PathUtils.h"
#include "platform/FileNames.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>

using namespace vl;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

[[noreturn]] void Fail(const std::string &what)
{
    std::fprintf(stderr, "vl_bench: FAILED: %s\n", what.c_str());
    std::exit(2);
}

void Usage()
{
    std::fprintf(stderr,
                 "usage: vl_bench copy|gzip|gzenc|zip|zipaes SOURCE DEST [--no-progress] [--buffer BYTES]\n"
                 "                [--password PW]\n"
                 "  copy    plain copy with attributes and time stamps\n"
                 "  gzip    per-file gzip form (DEST + \".gz\")\n"
                 "  gzenc   encrypted per-file gzip form, AES-256 (DEST + \".gze\")\n"
                 "  zip     one deflated zip archive (DEST + \".zip\")\n"
                 "  zipaes  one AES-256 zip archive (DEST + \".zip\", --password)\n"
                 "usage: vl_bench task SOURCE DEST TASKFILE\n"
                 "  task    writes a task file backing up SOURCE to DEST (folders as at the source)\n");
    std::exit(1);
}

struct TJob {
    std::string Source;
    std::string Dest;
};

// Mirrors the folders of SourceDir below DestDir (creating them now) and
// lists the regular files; links and special files are left out.
void WalkTree(const std::string &SourceDir, const std::string &DestDir, const std::string &Suffix,
              std::vector<TJob> &Jobs, size_t &Folders)
{
    if (mkdir(DestDir.c_str(), 0755) != 0 && errno != EEXIST)
        Fail("cannot create folder " + DestDir + ": " + std::strerror(errno));
    ++Folders;
    DIR *dir = opendir(SourceDir.c_str());
    if (!dir)
        Fail("cannot read folder " + SourceDir + ": " + std::strerror(errno));
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent *e = readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        std::string path = SourceDir + '/' + e->d_name;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (lstat(path.c_str(), &st) != 0)
                continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
        }
        if (type == DT_DIR || type == DT_REG)
            entries.emplace_back(e->d_name, type == DT_DIR);
    }
    closedir(dir);
    // A stable order makes runs comparable.
    std::sort(entries.begin(), entries.end());
    for (const auto &[name, isDir] : entries) {
        if (isDir)
            WalkTree(SourceDir + '/' + name, DestDir + '/' + name, Suffix, Jobs, Folders);
        else
            Jobs.push_back({SourceDir + '/' + name, DestDir + '/' + name + Suffix});
    }
}

int64_t FileSize(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

QString Q(const std::string &path)
{
    return DecodeFileName(path.data(), qsizetype(path.size()));
}

struct TZipTimes {
    size_t Files = 0, Folders = 0;
    int64_t BytesIn = 0;
    double Walk = 0, AddDirs = 0, AddFiles = 0, Slowest = 0;
    std::string SlowestFile;
};

// Adds Dir (unless it is the base) and then its contents, in name order, as
// the backup run walks a folder: FindFirst's data goes with each file.
void ZipTree(TZipWrite &zip, const QString &Dir, bool AddSelf, TZipTimes &t)
{
    if (AddSelf) {
        const auto t0 = Clock::now();
        zip.AddDir(Dir);
        t.AddDirs += SecondsSince(t0);
        ++t.Folders;
    }
    auto tw = Clock::now();
    std::vector<TFindData> entries;
    TSearchRec rec;
    uint32_t rc = FindFirst(JoinPath(Dir, QStringLiteral("*")), faAnyFile, rec);
    while (rc == 0) {
        // Links are left out, as in the per-file forms.
        if (!(rec.FindData.Attr & faReparsePoint))
            entries.push_back(rec.FindData);
        rc = FindNext(rec);
    }
    FindClose(rec);
    if (rc != ERROR_NO_MORE_FILES && rc != ERROR_FILE_NOT_FOUND)
        Fail("cannot read folder " + Dir.toStdString());
    std::sort(entries.begin(), entries.end(),
              [](const TFindData &a, const TFindData &b) { return EncodeFileName(a.Name) < EncodeFileName(b.Name); });
    t.Walk += SecondsSince(tw);
    for (const TFindData &fd : entries) {
        const QString path = JoinPath(Dir, fd.Name);
        if (fd.Attr & faDirectory) {
            ZipTree(zip, path, true, t);
            continue;
        }
        const auto t0 = Clock::now();
        zip.AddFile(path, fd, true);
        const double s = SecondsSince(t0);
        t.AddFiles += s;
        if (s > t.Slowest) {
            t.Slowest = s;
            t.SlowestFile = path.toStdString();
        }
        ++t.Files;
        t.BytesIn += fd.Size;
    }
}

int RunZip(const std::string &mode, const std::string &source, const std::string &dest, bool progress,
           int32_t bufSize, const QByteArray &password)
{
    const bool aes = mode == "zipaes";
    const std::string archive = dest + ".zip";
    struct stat st {};
    if (stat(source.c_str(), &st) != 0)
        Fail("cannot read " + source + ": " + std::strerror(errno));
    const QString src = Q(source);
    const QString base = ParentDirectory(src);
    std::atomic<uint64_t> progressCalls{0};
    TZipTimes t;
    double openSeconds = 0, directorySeconds = 0, closeSeconds = 0;

    const auto t0 = Clock::now();
    try {
        auto zip = std::make_unique<TZipWrite>(Q(archive), base, aes ? password : QByteArray(), aes ? 3 : 0, bufSize);
        if (progress)
            zip->SetOnProgress([&progressCalls](TFileAction, int64_t, bool) { ++progressCalls; });
        openSeconds = SecondsSince(t0);
        if (S_ISDIR(st.st_mode)) {
            ZipTree(*zip, src, true, t);
        } else {
            const auto ta = Clock::now();
            zip->AddFile(src, true);
            t.AddFiles = t.Slowest = SecondsSince(ta);
            t.SlowestFile = source;
            t.Files = 1;
            t.BytesIn = int64_t(st.st_size);
        }
        const auto td = Clock::now();
        zip->WriteDirectory();
        directorySeconds = SecondsSince(td);
        const auto tc = Clock::now();
        zip.reset();
        closeSeconds = SecondsSince(tc);
    } catch (const Exception &e) {
        QString text = e.Message();
        if (const auto *z = dynamic_cast<const EZipError *>(&e)) {
            char code[16];
            std::snprintf(code, sizeof code, " 0x%04x ", unsigned(z->ZipError()));
            text += QString::fromLatin1(code) + z->SysErrorMsg();
        }
        Fail(archive + ": " + text.toStdString());
    }
    const double elapsed = SecondsSince(t0);
    const int64_t bytesOut = FileSize(archive);
    if (bytesOut < 0)
        Fail("missing archive " + archive);

    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("vl_bench: mode=%s files=%zu folders=%zu bytes_in=%lld bytes_out=%lld buffer=%d\n", mode.c_str(),
                t.Files, t.Folders, static_cast<long long>(t.BytesIn), static_cast<long long>(bytesOut), bufSize);
    std::printf("vl_bench: create %.3f s, walk %.3f s, add dirs %.3f s, add files %.3f s, directory %.3f s, "
                "close %.3f s; per file %.1f us; slowest %.3f s (%s)\n",
                openSeconds, t.Walk, t.AddDirs, t.AddFiles, directorySeconds, closeSeconds,
                t.Files ? elapsed * 1e6 / double(t.Files) : 0.0, t.Slowest, t.SlowestFile.c_str());
    std::printf("vl_bench: progress calls %llu; user %.3f s, system %.3f s; voluntary switches %ld, "
                "involuntary %ld, minor faults %ld\n",
                static_cast<unsigned long long>(progressCalls.load()),
                double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6,
                double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6, usage.ru_nvcsw,
                usage.ru_nivcsw, usage.ru_minflt);
    std::printf("RESULT elapsed_s=%.6f maxrss_kib=%ld files=%zu bytes_out=%lld\n", elapsed, usage.ru_maxrss, t.Files,
                static_cast<long long>(bytesOut));
    return 0;
}

int WriteTask(const std::string &source, const std::string &dest, const std::string &taskFile)
{
    // What a user has before changing any setting.
    SetDefaultSettings(VlSettings);
    const QString src = Q(source);
    const QString dst = Q(dest);
    TBackupForm f;
    f.InitNewTask();
    f.BuZiel.SetText(dst);
    f.DestMode = 1;
    f.cbCompress.SetChecked(false);
    f.cbZipCompress.SetChecked(false);
    TExtensionList list(f.NewPeriod, TSubDirMode::sdmNormal);
    list.VPath = src;
    list.SPath = src;
    list.IsAvailable = true;
    f.SelectedDirBox.Add(src, std::move(list));
    f.ShowDestMode();
    if (!f.SaveTask(Q(taskFile)))
        Fail("cannot write task file " + taskFile);
    static const char *const kLevels[] = {"off", "short", "long", "verbose"};
    std::printf("TARGET %s\n", EncodeFileName(BuildTargetDir(f.DestMode, f.DriveId, dst, src)).constData());
    std::printf("LOGLEVEL %s\n", kLevels[f.TaskProtMode & 3]);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4)
        Usage();
    const std::string mode = argv[1];
    std::string source = argv[2];
    std::string dest = argv[3];
    bool progress = true;
    int32_t bufSize = 4 * 1024 * 1024;
    QByteArray password("Velkor bench password 2024");
    // The task file's name is task's fourth argument, not an option.
    for (int i = mode == "task" ? 5 : 4; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-progress")
            progress = false;
        else if (arg == "--buffer" && i + 1 < argc)
            bufSize = int32_t(std::strtol(argv[++i], nullptr, 10));
        else if (arg == "--password" && i + 1 < argc)
            password = QByteArray(argv[++i]);
        else
            Usage();
    }
    while (source.size() > 1 && source.back() == '/')
        source.pop_back();
    while (dest.size() > 1 && dest.back() == '/')
        dest.pop_back();

    if (mode == "task") {
        if (argc != 5)
            Usage();
        QCoreApplication app(argc, argv);
        return WriteTask(source, dest, argv[4]);
    }

    if (mode == "zip" || mode == "zipaes") {
        if (mode == "zipaes" && password.isEmpty())
            Usage();
        QCoreApplication app(argc, argv);
        return RunZip(mode, source, dest, progress, bufSize, password);
    }

    TCopyOptions options = CopyOptionBit(TCopyOption::coAttributes) | CopyOptionBit(TCopyOption::coTimeStamp);
    std::string suffix;
    std::unique_ptr<TEncryption> encryption;
    if (mode == "copy") {
    } else if (mode == "gzip") {
        options |= CopyOptionBit(TCopyOption::coCompress);
        suffix = ".gz";
    } else if (mode == "gzenc") {
        options |= CopyOptionBit(TCopyOption::coCompress);
        suffix = ".gze";
        // One object serves every file of the run, as in a backup task.
        encryption = std::make_unique<TEncryption>(QStringLiteral("Velkor bench password 2024"), 3, bufSize);
    } else {
        Usage();
    }

    // A backup run always has an application object; some services expect it.
    QCoreApplication app(argc, argv);

    const auto t0 = Clock::now();
    std::vector<TJob> jobs;
    size_t folders = 0;
    struct stat st {};
    if (stat(source.c_str(), &st) != 0)
        Fail("cannot read " + source + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        WalkTree(source, dest, suffix, jobs, folders);
    else
        jobs.push_back({source, dest + suffix});
    const double walkSeconds = SecondsSince(t0);

    std::atomic<uint64_t> progressCalls{0};
    double createSeconds = 0, runSeconds = 0, freeSeconds = 0;
    int64_t bytesIn = 0;
    double slowestSeconds = 0;
    std::string slowestFile;
    for (const TJob &job : jobs) {
        auto tc = Clock::now();
        auto thread = std::make_shared<TWinCopyThread>(DecodeFileName(job.Source.data(), qsizetype(job.Source.size())),
                                                       DecodeFileName(job.Dest.data(), qsizetype(job.Dest.size())),
                                                       encryption.get(), options, bufSize);
        if (progress)
            thread->SetOnProgress([&progressCalls](TFileAction, int64_t, bool) { ++progressCalls; });
        auto tr = Clock::now();
        createSeconds += std::chrono::duration<double>(tr - tc).count();
        thread->Start();
        thread->WaitFor();
        const double fileSeconds = SecondsSince(tr);
        runSeconds += fileSeconds;
        if (fileSeconds > slowestSeconds) {
            slowestSeconds = fileSeconds;
            slowestFile = job.Source;
        }
        if (!thread->ExceptionText().isEmpty())
            Fail(job.Source + ": exception: " + thread->ExceptionText().toStdString());
        if (thread->ErrorCode() != 0) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%04x", unsigned(thread->ErrorCode()));
            Fail(job.Source + " -> " + job.Dest + ": error " + code + " " + thread->SysErrorMsg().toStdString());
        }
        auto tf = Clock::now();
        thread.reset();
        freeSeconds += SecondsSince(tf);
    }
    const double elapsed = SecondsSince(t0);

    // Sizes are gathered after the clock stopped.
    int64_t bytesOut = 0;
    for (const TJob &job : jobs) {
        bytesIn += std::max<int64_t>(0, FileSize(job.Source));
        const int64_t size = FileSize(job.Dest);
        if (size < 0)
            Fail("missing backup file " + job.Dest);
        bytesOut += size;
    }

    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const size_t files = jobs.size();
    std::printf("vl_bench: mode=%s files=%zu folders=%zu bytes_in=%lld bytes_out=%lld\n", mode.c_str(), files, folders,
                static_cast<long long>(bytesIn), static_cast<long long>(bytesOut));
    std::printf("vl_bench: walk+mkdir %.3f s, thread create %.3f s, run %.3f s, free %.3f s; per file %.1f us; "
                "slowest %.3f s (%s)\n",
                walkSeconds, createSeconds, runSeconds, freeSeconds, files ? elapsed * 1e6 / double(files) : 0.0,
                slowestSeconds, slowestFile.c_str());
    std::printf("vl_bench: progress calls %llu; user %.3f s, system %.3f s; voluntary switches %ld, "
                "involuntary %ld, minor faults %ld\n",
                static_cast<unsigned long long>(progressCalls.load()),
                double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6,
                double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6, usage.ru_nvcsw,
                usage.ru_nivcsw, usage.ru_minflt);
    // The line bench/run reads.
    std::printf("RESULT elapsed_s=%.6f maxrss_kib=%ld files=%zu bytes_out=%lld\n", elapsed, usage.ru_maxrss, files,
                static_cast<long long>(bytesOut));
    return 0;
}
