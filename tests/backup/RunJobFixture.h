// Whole backup runs as the schedules and the command line start them:
// task files written through the editor's own SaveTask, run headless by
// TBackupForm::DoBackupJob on a fresh form, checked by the files at the
// destination (zip archives read back with Python's zipfile), the exit
// code and the lines of the task log.
#pragma once

#include "backup/BackupForm.h"
#include "backup/MainServices.h"
#include "common/TestUtils.h"
#include "core/Destinations.h"
#include "core/LockFile.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <ctime>

#include <functional>
#include <map>

namespace vl::test {

// Files of a folder (or what a run should have written) by relative path.
using TTree = std::map<QString, QByteArray>;

// "path (size, md5)" lines: comparable and readable in a failure.
inline QStringList Describe(const TTree &ATree)
{
    QStringList out;
    for (const auto &[path, data] : ATree)
        out << QStringLiteral("%1 (%2, %3)")
                   .arg(path)
                   .arg(data.size())
                   .arg(QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex().left(8)));
    return out;
}

// The file's bytes; empty when it does not exist.
inline QByteArray ReadIfExists(const QString &APath)
{
    return QFileInfo::exists(APath) ? ReadBytes(APath) : QByteArray();
}

inline void WriteTree(const QString &ADir, const TTree &ATree)
{
    for (const auto &[path, data] : ATree) {
        const QString file = ADir + QLatin1Char('/') + path;
        QDir().mkpath(QFileInfo(file).path());
        WriteBytes(file, data);
    }
}

inline TTree Prefixed(const QString &APrefix, const TTree &ATree)
{
    TTree out;
    for (const auto &[path, data] : ATree)
        out[APrefix.isEmpty() ? path : APrefix + QLatin1Char('/') + path] = data;
    return out;
}

inline TTree Subset(const TTree &ATree, const QStringList &AKeys)
{
    TTree out;
    for (const QString &k : AKeys)
        out[k] = ATree.at(k);
    return out;
}

// The entries of a zip archive with their data (directory entries left
// out); fails the test when Python cannot read it.
inline TTree ZipEntries(const QString &AZip)
{
    static const char *const kScript = "import base64, json, sys, zipfile\n"
                                       "z = zipfile.ZipFile(sys.argv[1])\n"
                                       "print(json.dumps({i.filename: base64.b64encode(z.read(i)).decode() for "
                                       "i in z.infolist() "
                                       "if not i.is_dir()}))\n";
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kScript), AZip});
    TTree out;
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        ADD_FAILURE() << "zip archive not readable: " << AZip.toStdString() << " "
                      << p.readAllStandardError().toStdString();
        return out;
    }
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    // The archives keep "\\" as the folder separator (engine/ZipFormat.h);
    // a name ending in one is a folder.
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QString name = QString(it.key()).replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (!name.endsWith(QLatin1Char('/')))
            out[name] = QByteArray::fromBase64(it.value().toString().toLatin1());
    }
    return out;
}

// The files below ADir as a restore would see them: every archive named
// AZipName (any folder) stands for its entries, placed in its folder; the
// time-stamp file is left out. Files of any other name stay as they are,
// so a stray archive or temporary file shows up in a comparison.
inline TTree DestView(const QString &ADir, const QString &AZipName = QString())
{
    TTree out;
    const QDir base(ADir);
    QDirIterator it(ADir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString rel = base.relativeFilePath(file);
        const QString name = it.fileName();
        if (name == QLatin1String(kTimeStampFileName))
            continue;
        if (!AZipName.isEmpty() && name == AZipName) {
            const QString folder = QFileInfo(rel).path();
            for (const auto &[entry, data] : ZipEntries(file))
                out[folder == QLatin1String(".") ? entry : folder + QLatin1Char('/') + entry] = data;
        } else {
            out[rel] = ReadBytes(file);
        }
    }
    return out;
}

// Every file below ADir last written ASeconds ago, so that files written
// now count as changed by time too.
inline void AgeFiles(const QString &ADir, int ASeconds)
{
    const timespec t{::time(nullptr) - ASeconds, 0};
    const timespec times[2] = {t, t};
    QDirIterator it(ADir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        ASSERT_EQ(utimensat(AT_FDCWD, it.next().toUtf8().constData(), times, 0), 0);
}

// User xattrs work in ADir (the archive bit is kept in them).
inline bool UserXattrsWork(const QString &ADir)
{
    const QByteArray file = (ADir + QStringLiteral("/.xattr-probe")).toUtf8();
    WriteBytes(QString::fromUtf8(file), "x");
    char value[4] = {};
    const bool ok = setxattr(file.constData(), "user.velkor.probe", "1", 1, 0) == 0
                    && getxattr(file.constData(), "user.velkor.probe", value, sizeof value) == 1 && value[0] == '1';
    QFile::remove(QString::fromUtf8(file));
    return ok;
}

inline bool HasLine(const QString &ALog, const QString &ALine)
{
    return ALog.split(QLatin1Char('\n')).contains(ALine);
}

inline QString LineStarting(const QString &ALog, const QString &AStart)
{
    for (const QString &line : ALog.split(QLatin1Char('\n')))
        if (line.startsWith(AStart))
            return line;
    return QString();
}

// Mode of BuModeCB as the editor stores it: 0 update, 1 full (clear the
// destination, reset the archive bits), 2 differential (clear, copy files
// with the bit), 3 incremental (clear, copy by the bit and reset it). A
// zip method keeps only the archive-bit part (a run writes new archives).
inline void SetBackupMode(TBackupForm &F, int AMode)
{
    F.ClearDest = AMode > 0;
    F.ResArchivCB.SetChecked(AMode == 1 || AMode == 3);
    F.UseArchivCB.SetChecked(AMode >= 2);
    F.BuModeCB.SetItemIndex(AMode);
}

inline void AddSource(TBackupForm &F, const QString &APath)
{
    TExtensionList l(F.NewPeriod, TSubDirMode::sdmNormal);
    l.VPath = APath;
    l.SPath = APath;
    l.IsAvailable = true;
    F.SelectedDirBox.Add(APath, std::move(l));
}

class RunJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetDefaultSettings(VlSettings);
        VlSettings.OtherSettings.MaxWaitTime = 0;
        Settings = MakeTempDir(QStringLiteral("settings"));
        SettingsFolder = Settings + QLatin1Char('/');
        Logs = MakeTempDir(QStringLiteral("logs"));
        VlSettings.Directories.LogDir = Logs;
        ProgramLogName = Logs + QStringLiteral("/Velkor.log");
        Tasks = MakeTempDir(QStringLiteral("tasks"));
        TaskFolder = Tasks + QLatin1Char('/');
        ProgramTempDir = WorkTempDir = MakeTempDir(QStringLiteral("work")) + QLatin1Char('/');
        Env.Set("VELKOR_POWER_DRYRUN", Logs + QStringLiteral("/power.txt"));
        Env.Set("VELKOR_EVENTLOG", Logs + QStringLiteral("/events.txt"));
        ProgExitCode = 0;
        SetBuMainForm(&Main);
        Src = MakeTempDir(QStringLiteral("src"));
        Dest = MakeTempDir(QStringLiteral("dest"));
    }
    void TearDown() override { SetBuMainForm(nullptr); }

    // Four files in three folders, one of them binary and larger than a
    // copy buffer.
    static TTree SampleTree()
    {
        QByteArray big(70000, '\0');
        for (int i = 0; i < big.size(); ++i)
            big[i] = char((i * 7919) >> 3);
        return {{QStringLiteral("top.txt"), "top level\n"},
                {QStringLiteral("a/one.txt"), QByteArray(1000, 'o')},
                {QStringLiteral("a/b/two.bin"), big},
                {QStringLiteral("c/three.txt"), "three\n"}};
    }

    // A new task as the editor saves it: destination Dest, source Src,
    // method 1 (folders as at the source), update mode, no compression,
    // log level 2 into "<name>.log" in the log folder, zip name "Data".
    QString MakeTask(const QString &AName, const std::function<void(TBackupForm &)> &ASetup = {})
    {
        TBackupForm f;
        f.InitNewTask();
        f.BuZiel.SetText(Dest);
        f.DestMode = 1;
        f.cbCompress.SetChecked(false);
        f.cbZipCompress.SetChecked(false);
        f.TaskProtMode = 2;
        f.TaskLogName = QStringLiteral("%taskname%.log");
        f.ZipNameEdit.SetText(QStringLiteral("Data"));
        AddSource(f, Src);
        if (ASetup)
            ASetup(f);
        f.ShowDestMode();
        const QString path = Tasks + QLatin1Char('/') + AName + QStringLiteral(".buj");
        EXPECT_TRUE(f.SaveTask(path));
        return path;
    }

    QString TaskLog(const QString &ATask) const
    {
        return Logs + QLatin1Char('/') + QFileInfo(ATask).completeBaseName() + QStringLiteral(".log");
    }

    struct TRun {
        TBuResult Result = TBuResult::brError;
        int Exit = -1;
        QString Log; // the lines this run added to the task log
    };

    // One run on a fresh form, unattended; the exit code starts at 0.
    TRun Run(const QString &ATask, int ANr = 0, TInteraction AIa = TInteraction::iaQuiet)
    {
        const QString log = TaskLog(ATask);
        const qint64 from = QFileInfo(log).size();
        ProgExitCode = 0;
        TRun r;
        {
            TBackupForm form;
            r.Result = form.DoBackupJob(ANr, AIa, TThreadPriority::tpNormal, ATask);
        }
        r.Exit = ProgExitCode;
        r.Log = QString::fromUtf8(ReadIfExists(log).mid(from)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        EXPECT_FALSE(LockFileExists(SettingsFolder)) << "Velkor.lock left behind";
        return r;
    }

    QString ErrorLog() const
    {
        return QString::fromUtf8(ReadIfExists(Logs + QStringLiteral("/VlErrors.log")))
            .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }

    TNullBuMainForm Main;
    TScopedEnv Env;
    QString Settings, Logs, Tasks, Src, Dest;
};

} // namespace vl::test
