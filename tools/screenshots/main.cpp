// vl_screenshots DIR: renders the windows to DIR/<window>-<state>-<theme>.png
// on the offscreen platform (unless QT_QPA_PLATFORM says otherwise), once
// with Fusion's light palette and once with the program's dark palette.
#include "tools/screenshots/Screenshots.h"

#include "ui/qt/QtStyles.h"

#include <QApplication>
#include <QDir>
#include <QStyle>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace vl::shots {

bool SaveShot(QWidget *AWidget, const QString &ADir, const QString &ABaseName, const TShotTheme &ATheme)
{
    const QString file = QDir(ADir).filePath(ABaseName + QLatin1Char('-') + ATheme.Name + QStringLiteral(".png"));
    if (!AWidget->grab().save(file, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace vl::shots

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vl_screenshots DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Velkor"));
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    QApplication::setStyle(QStringLiteral("Fusion"));
    bool ok = true;
    for (const vl::shots::TShotTheme &theme :
         {vl::shots::TShotTheme{QStringLiteral("light"), false}, vl::shots::TShotTheme{QStringLiteral("dark"), true}}) {
        QApplication::setPalette(theme.Dark ? vl::MakeDarkPalette() : QApplication::style()->standardPalette());
        ok = vl::shots::RenderProgressWindow(dir, theme) && ok;
    }
    return ok ? 0 : 1;
}
