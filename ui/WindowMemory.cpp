#include "ui/WindowMemory.h"

#include "core/Format.h"
#include "core/MessageService.h"
#include "core/ProgramEnv.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "platform/Thread.h"
#include "ui/History.h"
#include "ui/Styles.h"

#include <QFileInfo>
#include <QThread>

#include <mutex>

namespace vl {

void RestoreFormPos(TFormPos &Pos, IFormPlacement &Form, const TMonitorList &Monitors)
{
    int x = Pos.xprim;
    int y = Pos.yprim;
    int monitor = 0;
    if (Monitors.size() > 1) {
        x = Pos.xmult;
        y = Pos.ymult;
        monitor = 0;
        for (int i = 0; i < Monitors.size(); ++i)
            if (Monitors[i].WorkArea.contains(x, y)) {
                monitor = i;
                break;
            }
    }
    if (Monitors.isEmpty()) {
        // Nothing to keep the window inside: it comes back as stored.
        Form.SetPos(QPoint(x, y));
        Form.SetClientSize(QSize(Pos.w, Pos.h));
        Pos.wdiff = Form.ClientSize().width() - Pos.w;
        return;
    }
    const TMonitorArea &area = Monitors[monitor];
    const QRect &r = area.WorkArea;
    const int right = r.left() + r.width();
    const int bottom = r.top() + r.height();

    if (r.width() - 100 < Pos.w)
        Pos.w = r.width() - 50;
    if (right < x + Pos.w)
        x = right - Pos.w - 50;
    if (x <= r.left())
        x = r.left() + 50;

    if (r.height() - 100 < Pos.h)
        Pos.h = r.height() - 100;
    if (bottom < y + Pos.h)
        y = bottom - Pos.h - 50;
    if (y <= r.top())
        y = r.top() + 50;

    Form.SetPos(QPoint(x, y));
    if (area.Dpi == Pos.dpi)
        Form.SetClientSize(QSize(Pos.w, Pos.h));
    else {
        const QSize size = Form.ClientSize();
        Pos.w = size.width();
        Pos.h = size.height();
    }
    Pos.wdiff = Form.ClientSize().width() - Pos.w;
}

void StoreFormPos(TFormPos &Pos, const IFormPlacement &Form, int MonitorCount)
{
    if (!Form.Visible())
        return;
    const QPoint p = Form.Pos();
    if (MonitorCount <= 1) {
        Pos.xprim = p.x();
        Pos.yprim = p.y();
    } else {
        Pos.xmult = p.x();
        Pos.ymult = p.y();
    }
    const QSize size = Form.ClientSize();
    Pos.w = size.width();
    Pos.h = size.height();
}

int ValueForStyle(int A, int B)
{
    return IsVclStyleActive() ? B : A;
}

// ---------------------------------------------------------------------------
// Help

namespace {

std::mutex gHelpMutex;
THelpOpener gHelpOpener;

THelpOpener HelpOpener()
{
    std::lock_guard lock(gHelpMutex);
    return gHelpOpener;
}

const char *const kHelpPagePattern = VL_TR_NOOP("help/vl-%s.html");

} // namespace

QUrl HelpTopicUrl(const QString &Topic)
{
    QString topic = Topic;
    QString fragment;
    const qsizetype hash = topic.indexOf(QLatin1Char('#'));
    if (hash >= 0) {
        fragment = topic.mid(hash + 1);
        topic.truncate(hash);
    }
    for (const QLatin1String ext : {QLatin1String(".html"), QLatin1String(".htm")})
        if (topic.endsWith(ext, Qt::CaseInsensitive)) {
            topic.chop(ext.size());
            break;
        }
    if (topic.isEmpty())
        topic = QStringLiteral("index");
    QString file = ProgramPath + GuardedFormat(Tr(kHelpPagePattern), topic);
    if (!QFileInfo::exists(file))
        file = ProgramPath + GuardedFormat(QString::fromLatin1(kHelpPagePattern), topic);
    QUrl url = QUrl::fromLocalFile(file);
    if (!fragment.isEmpty())
        url.setFragment(fragment);
    return url;
}

void ShowHelpTopic(const QString &Topic)
{
    const THelpOpener opener = HelpOpener();
    if (!opener)
        return;
    const QUrl url = HelpTopicUrl(Topic);
    if (!QFileInfo::exists(url.toLocalFile()) || !opener(url))
        ShowErrorBox(Tr("Help is not available on this system!"), 0);
}

void SetHelpOpener(THelpOpener AOpener)
{
    std::lock_guard lock(gHelpMutex);
    gHelpOpener = std::move(AOpener);
}

// ---------------------------------------------------------------------------
// Controls

void WaitSeconds(int N)
{
    for (int i = 0; i < N * 10; ++i) {
        QThread::msleep(100);
        ProcessMessages();
    }
}

void SetFileTypeItems(TFileTypeItems &Items, const QString &Pairs)
{
    Items.clear();
    QString rest = Pairs;
    do {
        TFileTypeItem item;
        item.DisplayName = SplitNextToken(rest, QLatin1Char('|'));
        item.FileMask = SplitNextToken(rest, QLatin1Char('|'));
        Items.append(item);
    } while (!rest.isEmpty());
}

void AppendToEdit(TEditState &Edit, const QString &Text)
{
    Edit.SetText(Edit.Text() + Text);
}

void AddToComboHistory(TComboBoxState &Combo, const QString &Text)
{
    AddComboHistory(Combo, Text);
}

void UpdateComboHistory(TComboBoxState &Combo)
{
    AddToComboHistory(Combo, Combo.Text());
}

} // namespace vl
