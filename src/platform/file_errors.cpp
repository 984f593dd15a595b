#include "platform/file_errors.h"

#include <cerrno>

namespace tclink::platform {

RuntimeError fileError(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
        return RuntimeError(76, QStringLiteral("路径未找到"));
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return RuntimeError(70, QStringLiteral("没有权限"));
    case ENOSPC:
    case EDQUOT:
        return RuntimeError(61, QStringLiteral("磁盘已满"));
    case EIO:
        return RuntimeError(57, QStringLiteral("设备 I/O 错误"));
    default:
        return RuntimeError(75, QStringLiteral("路径/文件访问错误"));
    }
}

RuntimeError driveNotReady()
{
    return RuntimeError(71, QStringLiteral("磁盘未准备好"));
}

RuntimeError fileNotFound()
{
    return RuntimeError(53, QStringLiteral("文件未找到"));
}

} // namespace tclink::platform
