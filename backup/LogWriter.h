// The text file a run log is written through: UTF-8 with byte-order mark,
// lines ending in CR LF, appended.
//
// While open, the writer holds an exclusive OFD lock on the whole file
// (platform/FileLock.h), so another program's run that wants the same log
// sees it busy and continues in a sibling file instead of interleaving its
// lines with ours. Closing releases the lock (an external program may then
// write into the file) and Reopen takes it again.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace vl {

class TLogWriter {
public:
    enum TOpenMode {
        omAppend,    // a missing file is created holding the byte-order mark
        omCreateNew, // the file must not exist (ERROR_FILE_EXISTS otherwise)
    };

    TLogWriter() = default;
    ~TLogWriter();
    TLogWriter(const TLogWriter &) = delete;
    TLogWriter &operator=(const TLogWriter &) = delete;

    // Opens path for appending and locks it. ERROR_SHARING_VIOLATION when
    // another open file holds a lock on it; nothing is left open then.
    uint32_t Open(const QString &path, TOpenMode mode = omAppend);
    // Closes (after a flush) and opens the same file again for appending.
    uint32_t Reopen();
    // Flushes what is buffered and closes the file; the name is kept.
    void Close();
    bool IsOpen() const { return FFd >= 0; }
    const QString &FileName() const { return FFileName; }

    // Buffers text and CR LF; the buffer reaches the file when it grows
    // large, at Flush and at Close. Errors of writing it out are returned
    // (the lines that failed are dropped); not open: ERROR_INVALID_HANDLE.
    uint32_t WriteLine(const QString &text);
    uint32_t Flush();

    // Whether path exists and cannot be opened for writing with our lock
    // (held by another open file, or not writable).
    static bool IsBusy(const QString &path);

private:
    int FFd = -1;
    QString FFileName;
    QByteArray FBuffer;
};

} // namespace vl
