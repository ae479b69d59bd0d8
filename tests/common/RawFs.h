// Raw file-system access by bytes, independent of the code under test:
// tests set up and inspect folders with these, so a fault in the platform
// layer cannot hide itself.
#pragma once

#include "platform/FileNames.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vl::test {

inline QByteArray N(const QString &path)
{
    return EncodeFileName(path);
}

inline void WriteRaw(const QString &path, const QByteArray &data, mode_t mode = 0644)
{
    const int fd = ::open(N(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    ASSERT_GE(fd, 0) << N(path).toStdString();
    ASSERT_EQ(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
    ::close(fd);
}

inline QByteArray ReadRaw(const QString &path)
{
    const int fd = ::open(N(path).constData(), O_RDONLY);
    if (fd < 0)
        return QByteArray("<missing>");
    QByteArray data;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        data.append(buf, n);
    ::close(fd);
    return data;
}

inline void MkDir(const QString &path, mode_t mode = 0755)
{
    ASSERT_EQ(::mkdir(N(path).constData(), mode), 0) << N(path).toStdString();
}

inline void SymLink(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(N(target).constData(), N(link).constData()), 0) << N(link).toStdString();
}

inline bool Exists(const QString &path)
{
    struct stat s;
    return ::lstat(N(path).constData(), &s) == 0;
}

inline bool IsDir(const QString &path)
{
    struct stat s;
    return ::lstat(N(path).constData(), &s) == 0 && S_ISDIR(s.st_mode);
}

inline bool IsLink(const QString &path)
{
    struct stat s;
    return ::lstat(N(path).constData(), &s) == 0 && S_ISLNK(s.st_mode);
}

} // namespace vl::test
