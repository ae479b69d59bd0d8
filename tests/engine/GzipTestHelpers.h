// Helpers of the gzip, encrypted-file and compare thread tests: files with
// lossless names, running a thread to its end, and test threads that expose
// the protected operations of the copy-thread family.
#pragma once

#include "engine/CompareThread.h"
#include "engine/EncryptedFile.h"
#include "engine/Encryption.h"
#include "engine/GzipThread.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace vl::test {

inline constexpr int32_t kSmallBuffer = 4096; // several blocks per file in the tests

// Half text, half random bytes: compresses, but not to nothing.
inline QByteArray PatternData(int64_t size, uint32_t seed = 1)
{
    std::mt19937 rng(seed);
    QByteArray data;
    data.reserve(size);
    static const char text[] = "Velkor keeps every file as one gzip member. ";
    while (data.size() < size) {
        if (rng() & 1)
            data.append(text, sizeof(text) - 1);
        else
            for (int i = 0; i < 40; ++i)
                data.append(char(rng()));
    }
    data.truncate(size);
    return data;
}

inline void WriteFileRaw(const QString &path, const QByteArray &data, uint32_t mode = 0644)
{
    TFile f;
    ASSERT_EQ(f.Open(path, TFile::faWrite, TFile::fcCreateAlways, mode), 0u) << path.toStdString();
    int64_t done = 0;
    ASSERT_EQ(f.Write(data.constData(), data.size(), done), 0u);
    ASSERT_EQ(done, data.size());
    f.Close();
    ASSERT_EQ(Chmod(path, mode), 0u);
}

inline QByteArray ReadFileRaw(const QString &path)
{
    TFile f;
    if (f.Open(path, TFile::faRead) != 0)
        return QByteArray();
    int64_t size = 0;
    f.Size(size);
    QByteArray data(size, '\0');
    int64_t done = 0;
    f.Read(data.data(), size, done);
    data.truncate(done);
    return data;
}

inline bool FileExists(const QString &path)
{
    return PathExists(path, false);
}

inline uint32_t FileMode(const QString &path)
{
    TStatInfo st;
    EXPECT_EQ(StatPath(path, false, st), 0u) << path.toStdString();
    return st.Mode & 07777;
}

inline int64_t FileMTime(const QString &path)
{
    TStatInfo st;
    EXPECT_EQ(StatPath(path, false, st), 0u) << path.toStdString();
    return st.MTime.tv_sec;
}

inline void SetMTime(const QString &path, int64_t seconds)
{
    const timespec t{seconds, 0};
    ASSERT_EQ(SetFileTimes(path, &t, &t, false), 0u);
}

inline QStringList DirNames(const QString &dir)
{
    std::vector<TDirEntry> entries;
    ListDirectory(dir, entries);
    QStringList names;
    for (const auto &e : entries)
        names << e.Name;
    names.sort();
    return names;
}

// Starts a thread and waits for its end; its ErrorCode.
inline int32_t RunThread(const std::shared_ptr<TCopyThread> &thread)
{
    thread->Start();
    EXPECT_TRUE(thread->WaitFor(120000));
    return thread->ErrorCode();
}

inline std::unique_ptr<TEncryption> MakeEncryption(int32_t keyMode, const char *password = "s3cret pass")
{
    return std::make_unique<TEncryption>(QByteArray(password), keyMode, kSmallBuffer);
}

// The gzip writer with verification switched on and a hook in the worker
// at every progress step.
class TTestGZipThread : public TGZipThread {
public:
    using TGZipThread::TGZipThread;
    void SetVerify(bool Value) { FVerify = Value; }
    void SetTotals(int64_t ACTotal, int64_t AUTotal)
    {
        CTotal = ACTotal;
        UTotal = AUTotal;
    }
    std::function<void(TFileAction, int64_t)> OnStep;
    // Runs in the worker between writing and verifying.
    std::function<void()> BeforeVerify;

protected:
    void Execute() override
    {
        if (!BeforeVerify) {
            TGZipThread::Execute();
            return;
        }
        Finish(RunThreadBody(*this, FSysErrMsg, [this] {
            int32_t result = GzipFile();
            if (result == 0 && FVerify) {
                BeforeVerify();
                result = VerifyGzip();
            }
            return result;
        }));
    }
    void DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit) override
    {
        if (OnStep)
            OnStep(AAction, ACount);
        TGZipThread::DoProgress(AAction, ACount, ASpeedLimit);
    }
};

// The encrypted-file backup (EncryptFile, then VerifyEncrypted when asked),
// as the backup copy runs it.
class TTestEncryptThread : public TCopyThread {
public:
    TTestEncryptThread(const QString &ASource, const QString &ADest, TEncryption *AEncryption, bool AVerify)
        : TCopyThread(ASource, ADest, kSmallBuffer)
    {
        if (AEncryption)
            AttachEncryption(AEncryption);
        FVerify = AVerify;
    }
    std::function<void(TFileAction, int64_t)> OnStep;

protected:
    void Execute() override
    {
        int32_t result = EncryptFile();
        if (result == 0 && FVerify)
            result = VerifyEncrypted();
        Finish(result);
    }
    void DoProgress(TFileAction AAction, int64_t ACount, bool ASpeedLimit) override
    {
        if (OnStep)
            OnStep(AAction, ACount);
        TCopyThread::DoProgress(AAction, ACount, ASpeedLimit);
    }
};

inline int32_t GzipFile(const QString &source, const QString &dest, TEncryption *enc = nullptr, bool verify = false)
{
    auto t = std::make_shared<TTestGZipThread>(source, dest, enc, kSmallBuffer);
    t->SetVerify(verify);
    return RunThread(t);
}

inline int32_t GunzipFile(const QString &source, const QString &dest, TEncryption *enc = nullptr,
                          bool overwrite = false)
{
    auto t = std::make_shared<TGUnZipThread>(source, dest, enc, kSmallBuffer);
    t->Overwrite = overwrite;
    return RunThread(t);
}

inline int32_t EncryptFile(const QString &source, const QString &dest, TEncryption *enc, bool verify = false)
{
    return RunThread(std::make_shared<TTestEncryptThread>(source, dest, enc, verify));
}

inline int32_t DecryptFile(const QString &source, const QString &dest, TEncryption *enc, bool overwrite = false)
{
    auto t = std::make_shared<TDecryptThread>(source, dest, enc, kSmallBuffer);
    t->Overwrite = overwrite;
    return RunThread(t);
}

inline int32_t CompareFiles(const QString &backup, const QString &reference, TEncryption *enc, bool gzip)
{
    return RunThread(std::make_shared<TCompareThread>(backup, reference, enc, gzip, false, kSmallBuffer));
}

} // namespace vl::test
