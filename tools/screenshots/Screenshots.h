// Renders windows to PNG files for the documentation. Each window has a
// render function that writes its pictures into a folder; main runs every
// one of them under the light and the dark palette.
#pragma once

#include <QString>

class QWidget;

namespace vl::shots {

// Light or dark: the file name suffix and the palette in force.
struct TShotTheme {
    QString Name; // "light" or "dark"
    bool Dark = false;
};

// Writes AWidget's picture as <ADir>/<ABaseName>-<theme>.png; false (with a
// message on stderr) when it cannot be written.
bool SaveShot(QWidget *AWidget, const QString &ADir, const QString &ABaseName, const TShotTheme &ATheme);

// The progress window during a run and on its status page
// (progress-running-*.png, progress-status-*.png).
bool RenderProgressWindow(const QString &ADir, const TShotTheme &ATheme);

} // namespace vl::shots
