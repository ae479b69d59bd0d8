// What a command-line token is, for every program and every reader of
// command lines. Switches keep their "/x" and "-x" forms; since paths start
// with "/" too, a token starting with "/" is a task or file argument when it
// ends in a task-file extension (.buj, .rsj, .vfj, .cuj) or names an existing
// file or folder, and a switch otherwise.
#pragma once

#include <QString>

namespace vl {

// Whether Token starts with "/" and is a path by the rule above. A lone "/"
// is the empty switch, not the root folder.
bool IsPathArgument(const QString &Token);
// Whether Token starts with "/" or "-" and is no path argument.
bool IsSwitchArgument(const QString &Token);

} // namespace vl
