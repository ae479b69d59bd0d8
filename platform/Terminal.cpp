#include "platform/Terminal.h"

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
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace vl
