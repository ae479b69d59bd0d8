#include "platform/SysErrors.h"

#include <cerrno>
#include <cstring>

// Marks texts for the message catalogue; callers translate them.
#ifndef VL_TR_NOOP
#define VL_TR_NOOP(s) s
#endif

namespace vl {

uint32_t ErrnoToError(int err, bool pathParentMissing)
{
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return pathParentMissing ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EIO: return ERROR_IO_DEVICE;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EISDIR: return ERROR_DIRECTORY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case ECANCELED: return ERROR_CANCELLED;
    default: return ERROR_ERRNO_BIT | uint32_t(err);
    }
}

const char *SysErrorText(uint32_t code)
{
    switch (code) {
    case ERROR_SUCCESS: return VL_TR_NOOP("The operation completed successfully");
    case ERROR_INVALID_FUNCTION: return VL_TR_NOOP("Invalid function");
    case ERROR_FILE_NOT_FOUND: return VL_TR_NOOP("The file was not found");
    case ERROR_PATH_NOT_FOUND: return VL_TR_NOOP("The path was not found");
    case ERROR_TOO_MANY_OPEN_FILES: return VL_TR_NOOP("Too many open files");
    case ERROR_ACCESS_DENIED: return VL_TR_NOOP("Access denied");
    case ERROR_INVALID_HANDLE: return VL_TR_NOOP("Invalid file handle");
    case ERROR_NOT_ENOUGH_MEMORY: return VL_TR_NOOP("Not enough memory");
    case ERROR_NOT_SAME_DEVICE: return VL_TR_NOOP("The file cannot be moved to another file system");
    case ERROR_NO_MORE_FILES: return VL_TR_NOOP("There are no more files");
    case ERROR_WRITE_PROTECT: return VL_TR_NOOP("The medium is write-protected");
    case ERROR_NOT_READY: return VL_TR_NOOP("The device is not ready");
    case ERROR_SHARING_VIOLATION: return VL_TR_NOOP("The file is in use by another process");
    case ERROR_LOCK_VIOLATION: return VL_TR_NOOP("A part of the file is locked by another process");
    case ERROR_HANDLE_EOF: return VL_TR_NOOP("End of file reached");
    case ERROR_NOT_SUPPORTED: return VL_TR_NOOP("The request is not supported");
    case ERROR_BAD_NETPATH: return VL_TR_NOOP("The network path was not found");
    case ERROR_NETNAME_DELETED: return VL_TR_NOOP("The network name is no longer available");
    case ERROR_FILE_EXISTS: return VL_TR_NOOP("The file exists");
    case ERROR_INVALID_PARAMETER: return VL_TR_NOOP("Invalid parameter");
    case ERROR_DISK_FULL: return VL_TR_NOOP("There is not enough space on the disk");
    case ERROR_INVALID_NAME: return VL_TR_NOOP("The file name or path syntax is invalid");
    case ERROR_DIR_NOT_EMPTY: return VL_TR_NOOP("The directory is not empty");
    case ERROR_ALREADY_EXISTS: return VL_TR_NOOP("The file already exists");
    case ERROR_FILENAME_EXCED_RANGE: return VL_TR_NOOP("The file name is too long");
    case ERROR_DIRECTORY: return VL_TR_NOOP("The name is not a valid directory");
    case ERROR_SERVICE_NOT_ACTIVE: return VL_TR_NOOP("The service has not been started");
    case ERROR_IO_DEVICE: return VL_TR_NOOP("Input/output error of the device");
    case ERROR_SHARE_NOT_MOUNTED:
        return VL_TR_NOOP("The network share is not mounted and cannot be mounted here; mount it first");
    case ERROR_CANCELLED: return VL_TR_NOOP("The operation was canceled");
    case ERROR_LOGON_FAILURE: return VL_TR_NOOP("Logon failure: unknown user name or bad password");
    case ERROR_TIMEOUT: return VL_TR_NOOP("The operation timed out");
    case ERROR_CANT_RESOLVE_FILENAME: return VL_TR_NOOP("Too many levels of symbolic links");
    case ERROR_NOT_CONNECTED: return VL_TR_NOOP("The path does not lie on a network share");
    default: break;
    }
    if ((code & ERROR_ERRNO_BIT) && (code & ~uint32_t(ERROR_ERRNO_BIT)) < 4096)
        return strerrordesc_np(int(code & ~uint32_t(ERROR_ERRNO_BIT)));
    return nullptr;
}

} // namespace vl
