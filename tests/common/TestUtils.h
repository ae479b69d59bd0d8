// Small helpers shared by the test executables.
#pragma once

#include <QByteArray>
#include <QString>

namespace vl::test {

// The temporary folder the test process runs in: HOME, XDG_CONFIG_HOME,
// XDG_DATA_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and TMPDIR all point below
// it, so no test touches the user's real settings.
QString TestRoot();

// A fresh empty folder below TestRoot().
QString MakeTempDir(const QString &name = QStringLiteral("t"));

// Whole-file helpers on plain (UTF-8) paths.
QByteArray ReadBytes(const QString &path);
void WriteBytes(const QString &path, const QByteArray &data);

} // namespace vl::test
