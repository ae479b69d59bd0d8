// Destination texts as the task window checks them before a task is saved
// or started (TBackupForm::CheckBeforeSave).
#pragma once

#include <QString>

namespace vl {

// Whether every element of the destination text is a valid file name on
// any destination (HasValidFileNameChars, so task files stay portable).
// Empty is valid; a leading "//" (network path) and a trailing "/" are
// ignored; ":LABEL:" at the start must hold a non-empty valid name;
// placeholders between percent signs pass. There are no drive elements:
// "C:" is an invalid name like any other holding ":".
bool IsValidDestinationPath(const QString &APath);

// The destination text tidied: a network path keeps its leading "//",
// any other keeps its first element (the root "/", a ":LABEL:" or the
// first name of a relative path); every further element loses its trailing
// blanks and an empty one becomes "NewDir"; elements are joined by single
// "/". A trailing "/" is dropped except after a bare root ("/",
// ":LABEL:/").
QString TidyDestinationPath(const QString &APath);

} // namespace vl
