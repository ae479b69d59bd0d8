// Which system the program runs on: the distribution's name, the kernel
// release and the bitness, for the header line of every task log.
#pragma once

#include <QByteArray>
#include <QString>

namespace vl {

struct TOsInfo {
    QString PrettyName;    // PRETTY_NAME of os-release, e.g. "Debian GNU/Linux 12 (bookworm)"
    QString KernelRelease; // uname release, e.g. "6.1.0-18-amd64"
    QString Machine;       // uname machine, e.g. "x86_64"
    bool Is64Bit = false;  // the kernel is a 64-bit one
};

// Fills Info from /etc/os-release (else /usr/lib/os-release) and uname.
// False only when uname fails; a missing os-release gives "Linux".
bool GetOsInfo(TOsInfo &Info);

// PRETTY_NAME of an os-release text (shell-style assignments: unquoted,
// "double" with \ escapes, or 'single' quoted); "Linux" when it has none.
QString OsReleasePrettyName(const QByteArray &text);

// Whether a uname machine name is a 64-bit architecture.
bool Is64BitMachine(const QString &machine);
// The kernel is 64-bit.
bool IsWindows64();
// This process is a 64-bit program on a 64-bit kernel.
bool Is64BitProcess();

} // namespace vl
