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

#include <functional>

namespace vl::test {

// The unprivileged account permission tests run as (nobody/nogroup).
inline constexpr unsigned kNobodyUid = 65534;
inline constexpr unsigned kNobodyGid = 65534;

// Runs body in a forked child that has dropped to kNobodyUid/kNobodyGid
// (when running as root; otherwise as the current user). Failures of
// EXPECT/ASSERT inside body are reported by the parent. Give the child's
// folders to that user first with ChownTree.
void RunUnprivileged(const std::function<void()> &body);
// chown -R of a folder to kNobodyUid/kNobodyGid (as root; else nothing).
void ChownTree(const QString &path);

} // namespace vl::test

#include <QByteArray>

namespace vl::test {

// Sets TZ for the lifetime of the object and restores it afterwards.
class TScopedTimeZone {
public:
    explicit TScopedTimeZone(const char *tz);
    ~TScopedTimeZone();
    TScopedTimeZone(const TScopedTimeZone &) = delete;
    TScopedTimeZone &operator=(const TScopedTimeZone &) = delete;

private:
    QByteArray FSaved;
    bool FHad = false;
};

} // namespace vl::test

#include <QList>

#include <initializer_list>
#include <utility>

namespace vl::test {

// A value for TScopedEnv: text, bytes, or nullptr to unset the variable.
class TEnvValue {
public:
    TEnvValue(std::nullptr_t) {}
    TEnvValue(const char *v) : FSet(v != nullptr), FValue(v) {}
    TEnvValue(const QByteArray &v) : FSet(!v.isNull()), FValue(v) {}
    TEnvValue(const QString &v) : FSet(!v.isNull()), FValue(v.toUtf8()) {}
    bool IsSet() const { return FSet; }
    const QByteArray &Value() const { return FValue; }

private:
    bool FSet = false;
    QByteArray FValue;
};

// Sets (or unsets) environment variables for the lifetime of the object
// and restores their earlier state afterwards. With names only, it just
// restores them after the test changed them.
class TScopedEnv {
public:
    TScopedEnv(std::initializer_list<std::pair<const char *, TEnvValue>> values);
    explicit TScopedEnv(std::initializer_list<const char *> names);
    TScopedEnv() = default;
    ~TScopedEnv();
    // Saves the variable's state, then sets or unsets it.
    void Set(const char *name, const TEnvValue &value);
    TScopedEnv(const TScopedEnv &) = delete;
    TScopedEnv &operator=(const TScopedEnv &) = delete;

private:
    struct TSaved {
        const char *Name;
        QByteArray Value;
        bool Set;
    };
    void Save(const char *name);
    QList<TSaved> FSaved;
};

} // namespace vl::test
