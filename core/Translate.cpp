#include "core/Translate.h"

#include <libintl.h>

#include <atomic>
#include <memory>
#include <vector>

namespace vl {

namespace {

// Read by every thread that translates, replaced as a whole.
std::atomic<std::shared_ptr<const std::vector<QByteArray>>> gFallbackDomains;

} // namespace

QString Tr(const char *msgid)
{
    // gettext("") would give the catalogue's header.
    if (!*msgid)
        return QString();
    const char *text = gettext(msgid);
    // Without a translation gettext gives msgid itself back.
    if (text == msgid) {
        if (const auto domains = gFallbackDomains.load()) {
            for (const QByteArray &domain : *domains) {
                text = dgettext(domain.constData(), msgid);
                if (text != msgid)
                    break;
            }
        }
    }
    return QString::fromUtf8(text);
}

QString TrDomain(const char *domain, const char *msgid)
{
    if (!*msgid)
        return QString();
    return QString::fromUtf8(dgettext(domain, msgid));
}

void SetFallbackDomains(const QStringList &domains)
{
    auto list = std::make_shared<std::vector<QByteArray>>();
    for (const QString &domain : domains)
        list->push_back(domain.toUtf8());
    gFallbackDomains.store(std::move(list));
}

} // namespace vl
