#include "platform/OsInfo.h"

#include <QFile>

#include <sys/utsname.h>

namespace vl {

namespace {

// One shell-style value: "..." (with \ escaping ", \, $ and `), '...'
// (literal) or an unquoted word; quoted parts may follow each other.
QByteArray UnquoteValue(const QByteArray &raw)
{
    QByteArray out;
    qsizetype i = 0;
    while (i < raw.size()) {
        const char c = raw.at(i);
        if (c == '"') {
            ++i;
            while (i < raw.size() && raw.at(i) != '"') {
                if (raw.at(i) == '\\' && i + 1 < raw.size() && QByteArray("\"\\$`").contains(raw.at(i + 1)))
                    ++i;
                out.append(raw.at(i++));
            }
            ++i; // closing quote
        } else if (c == '\'') {
            ++i;
            while (i < raw.size() && raw.at(i) != '\'')
                out.append(raw.at(i++));
            ++i;
        } else if (c == '\\' && i + 1 < raw.size()) {
            out.append(raw.at(i + 1));
            i += 2;
        } else {
            out.append(c);
            ++i;
        }
    }
    return out;
}

} // namespace

QString OsReleasePrettyName(const QByteArray &text)
{
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (!line.startsWith("PRETTY_NAME="))
            continue;
        const QString name = QString::fromUtf8(UnquoteValue(line.mid(12))).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return QStringLiteral("Linux");
}

bool Is64BitMachine(const QString &machine)
{
    // x86_64, aarch64, ppc64(le), riscv64, mips64, loongarch64, sparc64, ia64;
    // s390x and alpha do not say so in their names.
    return machine.contains(QLatin1String("64")) || machine == QLatin1String("s390x")
        || machine == QLatin1String("alpha");
}

bool GetOsInfo(TOsInfo &Info)
{
    Info = TOsInfo();
    utsname un{};
    if (uname(&un) != 0)
        return false;
    Info.KernelRelease = QString::fromUtf8(un.release);
    Info.Machine = QString::fromUtf8(un.machine);
    Info.Is64Bit = Is64BitMachine(Info.Machine);
    QByteArray text;
    for (const char *path : {"/etc/os-release", "/usr/lib/os-release"}) {
        QFile f(QString::fromLatin1(path));
        if (f.open(QIODevice::ReadOnly)) {
            text = f.read(64 * 1024);
            break;
        }
    }
    Info.PrettyName = OsReleasePrettyName(text);
    return true;
}

bool IsWindows64()
{
    utsname un{};
    return uname(&un) == 0 && Is64BitMachine(QString::fromUtf8(un.machine));
}

bool Is64BitProcess()
{
    return sizeof(void *) == 8 && IsWindows64();
}

} // namespace vl
