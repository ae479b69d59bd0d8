// The program's system error numbers and their texts.
//
// File functions report errors as numbers of one scheme that every layer
// shares (the numbers the task logs and error messages have always shown).
// errno values map onto them here; an errno without a counterpart keeps its
// own value with the customer bit set (0x20000000 | errno).
#pragma once

#include <cstdint>

namespace vl {

enum : uint32_t {
    ERROR_SUCCESS = 0,
    ERROR_INVALID_FUNCTION = 1,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_PATH_NOT_FOUND = 3,
    ERROR_TOO_MANY_OPEN_FILES = 4,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_NOT_SAME_DEVICE = 17,
    ERROR_NO_MORE_FILES = 18,
    ERROR_WRITE_PROTECT = 19,
    ERROR_NOT_READY = 21,
    ERROR_SHARING_VIOLATION = 32,
    ERROR_LOCK_VIOLATION = 33,
    ERROR_HANDLE_EOF = 38,
    ERROR_NOT_SUPPORTED = 50,
    ERROR_BAD_NETPATH = 53,
    ERROR_NETNAME_DELETED = 64, // the connection broke off (worth another attempt)
    ERROR_FILE_EXISTS = 80,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_DISK_FULL = 112,
    ERROR_INVALID_NAME = 123,
    ERROR_DIR_NOT_EMPTY = 145,
    ERROR_ALREADY_EXISTS = 183,
    ERROR_FILENAME_EXCED_RANGE = 206,
    ERROR_DIRECTORY = 267,
    ERROR_SERVICE_NOT_ACTIVE = 1062,
    ERROR_IO_DEVICE = 1117,
    ERROR_SHARE_NOT_MOUNTED = 1203, // not mounted, and mounting is not possible here
    ERROR_CANCELLED = 1223,
    ERROR_LOGON_FAILURE = 1326, // user name or password refused
    ERROR_TIMEOUT = 1460,
    ERROR_CANT_RESOLVE_FILENAME = 1921,
    ERROR_NOT_CONNECTED = 2250, // the path lies on no network share
    ERROR_ERRNO_BIT = 0x20000000,
};

// The error number for an errno value. pathParentMissing turns ENOENT into
// ERROR_PATH_NOT_FOUND (the folder that should hold the file is missing).
uint32_t ErrnoToError(int err, bool pathParentMissing = false);

// The English text of an error number (translated by the caller), or
// nullptr when the number has no text of its own.
const char *SysErrorText(uint32_t code);

} // namespace vl
