// Steps of a run before and after it writes a destination that need no
// task state: the "%mode%" placeholder of destination texts and the test
// whether a destination holds anything but the time stamp file.
#pragma once

#include <QString>

namespace vl {

// AText with every "%mode%" (any case) replaced by the word of the backup
// mode index AMode: 0 "Updt", 1 "Full", 2 "Diff", 3 "Incr". Text without
// the placeholder, and any text for another index, comes back unchanged.
QString ExpandModePlaceholder(const QString &AText, int AMode);

// True when ADir holds no entry but "$TimeStamp.vlu" (exact name); a
// missing folder counts as empty, one that cannot be listed does not.
bool IsDestinationEmpty(const QString &ADir);

} // namespace vl
