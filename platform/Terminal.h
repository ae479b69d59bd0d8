// The terminal that a program's progress line goes to: whether a file
// descriptor is one, how wide it is, and writing to it.
#pragma once

#include <QByteArray>

namespace vl {

// fd refers to a terminal.
bool IsTerminal(int fd);
// The number of columns of the terminal on fd; 0 when it is no terminal or
// does not say.
int TerminalColumns(int fd);
// Writes all bytes to fd, continuing after interruptions by signals; false
// when a write fails.
bool WriteAll(int fd, const QByteArray &bytes);

} // namespace vl
