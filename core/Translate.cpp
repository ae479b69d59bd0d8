#include "core/Translate.h"

#include <libintl.h>

namespace vl {

QString Tr(const char *msgid)
{
    return QString::fromUtf8(gettext(msgid));
}

QString TrDomain(const char *domain, const char *msgid)
{
    return QString::fromUtf8(dgettext(domain, msgid));
}

} // namespace vl
