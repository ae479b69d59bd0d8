#include "core/CommandLine.h"

#include "platform/FileSystem.h"

namespace vl {

bool IsPathArgument(const QString &Token)
{
    if (Token.size() < 2 || Token[0] != QLatin1Char('/'))
        return false;
    for (const char *ext : {".buj", ".rsj", ".vfj", ".cuj"})
        if (Token.endsWith(QLatin1String(ext), Qt::CaseInsensitive))
            return true;
    return PathExists(Token, true);
}

bool IsSwitchArgument(const QString &Token)
{
    if (Token.isEmpty())
        return false;
    if (Token[0] == QLatin1Char('-'))
        return true;
    return Token[0] == QLatin1Char('/') && !IsPathArgument(Token);
}

} // namespace vl
