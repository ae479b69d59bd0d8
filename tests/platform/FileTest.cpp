#include "common/TestUtils.h"
#include "platform/File.h"
#include "platform/SysErrors.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace vl;

TEST(File, OpenReportsProgramErrors)
{
    const QString dir = test::MakeTempDir();
    const QString existing = dir + QStringLiteral("/existing");
    test::WriteBytes(existing, "x");
    struct Case {
        QString Path;
        TFile::TAccess Access;
        TFile::TCreate Create;
        uint32_t Expected;
    };
    const Case cases[] = {
        {dir + QStringLiteral("/none"), TFile::faRead, TFile::fcOpenExisting, ERROR_FILE_NOT_FOUND},
        {dir + QStringLiteral("/none/f"), TFile::faWrite, TFile::fcCreateAlways, ERROR_PATH_NOT_FOUND},
        {dir + QStringLiteral("/none/f"), TFile::faRead, TFile::fcOpenExisting, ERROR_PATH_NOT_FOUND},
        {existing, TFile::faWrite, TFile::fcCreateNew, ERROR_FILE_EXISTS},
        {dir, TFile::faWrite, TFile::fcOpenExisting, ERROR_DIRECTORY},
        {existing, TFile::faReadWrite, TFile::fcOpenExisting, ERROR_SUCCESS},
    };
    for (const Case &c : cases) {
        TFile f;
        EXPECT_EQ(f.Open(c.Path, c.Access, c.Create), c.Expected) << c.Path.toStdString();
        EXPECT_EQ(f.IsOpen(), c.Expected == ERROR_SUCCESS);
    }
}

TEST(File, ReadWriteSeekTruncate)
{
    const QString path = test::MakeTempDir() + QStringLiteral("/f");
    TFile f;
    ASSERT_EQ(f.Open(path, TFile::faReadWrite, TFile::fcCreateNew, 0600), ERROR_SUCCESS);
    EXPECT_TRUE(fcntl(f.Handle(), F_GETFD) & FD_CLOEXEC);
    QByteArray data((1 << 20) + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(i * 7);
    int64_t done = 0, pos = -1, size = -1;
    ASSERT_EQ(f.Write(data.constData(), data.size(), done), ERROR_SUCCESS);
    EXPECT_EQ(done, data.size());
    ASSERT_EQ(f.Seek(0, SEEK_SET, pos), ERROR_SUCCESS);
    EXPECT_EQ(pos, 0);
    QByteArray back(data.size() + 100, '\0');
    ASSERT_EQ(f.Read(back.data(), back.size(), done), ERROR_SUCCESS);
    EXPECT_EQ(done, data.size()) << "a short count with success means end of file";
    back.resize(done);
    EXPECT_EQ(back, data);

    ASSERT_EQ(f.Truncate(10), ERROR_SUCCESS);
    ASSERT_EQ(f.Size(size), ERROR_SUCCESS);
    EXPECT_EQ(size, 10);
    EXPECT_EQ(f.Sync(), ERROR_SUCCESS);

    TFile moved(std::move(f));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_TRUE(moved.IsOpen());
    moved.Close();
    EXPECT_FALSE(moved.IsOpen());
}

TEST(File, FullDiskIsReported)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is missing";
    TFile f;
    ASSERT_EQ(f.Open(QStringLiteral("/dev/full"), TFile::faWrite), ERROR_SUCCESS);
    const QByteArray data(4096, 'x');
    int64_t done = -1;
    EXPECT_EQ(f.Write(data.constData(), data.size(), done), ERROR_DISK_FULL);
    EXPECT_EQ(done, 0);
}
