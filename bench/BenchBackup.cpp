// vl_bench: backs up one file or a folder tree in one of the per-file backup
// forms exactly as the backup run does (one TWinCopyThread per file, 4 MiB
// buffer, attributes and time stamps), and reports the elapsed time and the
// peak memory of the process. bench/run compares it with reference tools.
//
//   vl_bench copy|gzip|gzenc SOURCE DEST [--no-progress] [--buffer BYTES]
//
// SOURCE a file: DEST is the backup file's name (".gz"/".gze" appended).
// SOURCE a folder: DEST is created and the tree is mirrored below it; the
// folders are created before the files are copied, as the backup run does.
//
// Any failed file aborts the run with exit code 2: a benchmark of a copy
// that does not work would measure nothing.

#include "engine/Encryption.h"
#include "engine/WinCopyThread.h"
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
                 "usage: vl_bench copy|gzip|gzenc SOURCE DEST [--no-progress] [--buffer BYTES]\n"
                 "  copy   plain copy with attributes and time stamps\n"
                 "  gzip   per-file gzip form (DEST + \".gz\")\n"
                 "  gzenc  encrypted per-file gzip form, AES-256 (DEST + \".gze\")\n");
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
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-progress")
            progress = false;
        else if (arg == "--buffer" && i + 1 < argc)
            bufSize = int32_t(std::strtol(argv[++i], nullptr, 10));
        else
            Usage();
    }
    while (source.size() > 1 && source.back() == '/')
        source.pop_back();
    while (dest.size() > 1 && dest.back() == '/')
        dest.pop_back();

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
