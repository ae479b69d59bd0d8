// User-visible texts are English source strings looked up in the gettext
// message catalogues at run time. The catalogue binding (language choice)
// is set up at program start; without it the English text is returned.
#pragma once

#include <QString>
#include <QStringList>

namespace vl {

// The text domain of the common dialogs; every other text uses the
// program's default domain.
inline constexpr const char *kDialogsDomain = "dialogs";

// Translates msgid (UTF-8) in the default domain, else in the first of the
// fallback domains that has it. An empty msgid stays empty.
QString Tr(const char *msgid);
// Translates msgid in the given text domain.
QString TrDomain(const char *domain, const char *msgid);

// The domains Tr searches after the default domain, in this order (the
// language selection sets them to the domains a program adds).
void SetFallbackDomains(const QStringList &domains);

// Marks a text for extraction without translating it here.
#define VL_TR_NOOP(s) s

} // namespace vl
