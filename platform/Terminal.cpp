#include "platform/Terminal.h"

#include "platform/File.h"
#include "platform/SysErrors.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace vl {

bool IsTerminal(int fd)
{
    return fd >= 0 && isatty(fd) == 1;
}

int TerminalColumns(int fd)
{
    struct winsize ws = {};
    if (fd < 0 || ioctl(fd, TIOCGWINSZ, &ws) != 0)
        return 0;
    return ws.ws_col;
}

bool WriteAll(int fd, const QByteArray &bytes)
{
    return WriteAllBytes(fd, bytes.constData(), bytes.size()) == ERROR_SUCCESS;
}

} // namespace vl
