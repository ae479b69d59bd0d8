#include "common/TestUtils.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace vl::test {

QString TestRoot()
{
    return QString::fromLocal8Bit(qgetenv("VELKOR_TEST_ROOT"));
}

QString MakeTempDir(const QString &name)
{
    static int counter = 0;
    const QString dir = TestRoot() + QStringLiteral("/%1-%2").arg(name).arg(++counter);
    QDir().mkpath(dir);
    return dir;
}

QByteArray ReadBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return f.readAll();
}

void WriteBytes(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

} // namespace vl::test
