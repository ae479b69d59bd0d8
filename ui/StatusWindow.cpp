#include "ui/StatusWindow.h"

#include "core/Translate.h"

#include <QStringList>

#include <algorithm>

namespace vl {

namespace {

const QString Ellipsis = QStringLiteral("...");
const QChar Delimiter = QLatin1Char('/');

} // namespace

QString ElideTextMiddle(const QString &Text, int MaxWidth, const TTextWidthFunc &TextWidth)
{
    if (TextWidth(Text) <= MaxWidth)
        return Text;
    const qsizetype length = Text.size();
    for (qsizetype keep = length - 1; keep > 0; --keep) {
        qsizetype left = (keep + 1) / 2;
        qsizetype right = keep / 2;
        // Never cut a surrogate pair in two.
        if (Text.at(left - 1).isHighSurrogate())
            --left;
        if (right > 0 && Text.at(length - right).isLowSurrogate())
            --right;
        const QString s = Text.left(left) + Ellipsis + Text.right(right);
        if (TextWidth(s) <= MaxWidth)
            return s;
    }
    return Ellipsis;
}

QString MinimizePath(const QString &Path, int MaxWidth, const TTextWidthFunc &TextWidth)
{
    if (TextWidth(Path) <= MaxWidth)
        return Path;
    const qsizetype last = Path.lastIndexOf(Delimiter);
    if (last < 0)
        return ElideTextMiddle(Path, MaxWidth, TextWidth);
    const QString name = Path.mid(last);
    const QStringList parts = Path.left(last).split(Delimiter);
    // The lead reaches up to the first named folder: "/home", "//server".
    qsizetype first = 0;
    while (first < parts.size() && parts.at(first).isEmpty())
        ++first;
    if (first < parts.size()) {
        const QString lead = parts.mid(0, first + 1).join(Delimiter) + Delimiter + Ellipsis;
        for (qsizetype from = first + 2; from <= parts.size(); ++from) {
            QString s = lead;
            for (qsizetype i = from; i < parts.size(); ++i)
                s += Delimiter + parts.at(i);
            s += name;
            if (TextWidth(s) <= MaxWidth)
                return s;
        }
    }
    const QString tail = Ellipsis + name;
    if (TextWidth(tail) <= MaxWidth)
        return tail;
    return ElideTextMiddle(Path, MaxWidth, TextWidth);
}

// ---------------------------------------------------------------------------
// TStatusWindow::TBarState

void TStatusWindow::TBarState::Changed()
{
    if (OnChange)
        OnChange();
}

void TStatusWindow::TBarState::SetStyle(TNewProgressBarStyle AValue)
{
    if (FStyle == AValue)
        return;
    FStyle = AValue;
    Changed();
}

void TStatusWindow::TBarState::SetPosition(int AValue)
{
    AValue = std::clamp(AValue, FMin, FMax);
    if (FPosition == AValue)
        return;
    FPosition = AValue;
    Changed();
}

void TStatusWindow::TBarState::SetStepInterval(int AValue)
{
    if (FStepInterval == AValue)
        return;
    FStepInterval = AValue;
    Changed();
}

// ---------------------------------------------------------------------------
// TStatusWindow

TStatusWindow::TStatusWindow()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Status"));
    btnCancel.SetCaption(TrDomain(kDialogsDomain, "Cancel"));
    // Cancel only notes the wish; the caller polls Stopped and decides.
    btnCancel.OnClick = [this](TControlState &) { FStopped = true; };
}

TStatusWindow::~TStatusWindow() = default;

void TStatusWindow::SetView(std::unique_ptr<IStatusView> AView)
{
    FView = std::move(AView);
}

QString TStatusWindow::Fit(const QString &AText) const
{
    if (!FView)
        return AText;
    IStatusView *view = FView.get();
    return MinimizePath(AText, view->TextAreaWidth(), [view](const QString &s) { return view->TextWidth(s); });
}

void TStatusWindow::ShowStatus(QPoint APos, const QString &Titel, const QString &Stat, bool AllowBreak,
                               int32_t AInterval)
{
    const bool wasVisible = FVisible;
    FStopped = false;
    btnCancel.SetVisible(AllowBreak);
    // An open window keeps its title when none is given.
    if (!wasVisible || !Titel.isEmpty())
        Form.SetCaption(Titel);
    ProgLabel.SetCaption(QString());
    StatusLabel.SetCaption(Stat);
    if (wasVisible) {
        if (FView)
            FView->Repaint();
        return;
    }
    // The bar is set up only when the window opens: a refresh keeps it.
    if (AInterval > 0) {
        ProgressBar.SetStyle(TNewProgressBarStyle::npsContinuous);
        ProgressBar.SetStepInterval(AInterval);
        ProgressBar.SetVisible(true);
    } else if (AInterval < 0) {
        // A percent bar is asked for: show it even when an earlier opening
        // without a bar hid it.
        ProgressBar.SetStyle(TNewProgressBarStyle::npsNormal);
        ProgressBar.SetPosition(0);
        ProgressBar.SetVisible(true);
    } else {
        ProgressBar.SetVisible(false);
    }
    FVisible = true;
    if (FView)
        FView->ShowAt(APos);
}

void TStatusWindow::SetStatus(const QString &AValue)
{
    StatusLabel.SetCaption(Fit(AValue));
}

void TStatusWindow::SetInfo(const QString &AValue)
{
    ProgLabel.SetCaption(Fit(AValue));
}

void TStatusWindow::SetProgress(int32_t AValue)
{
    ProgressBar.SetPosition(AValue);
}

void TStatusWindow::Close()
{
    FVisible = false;
    if (FView)
        FView->Hide();
}

bool TStatusWindow::KeyEscape()
{
    return FVisible && btnCancel.UserClick();
}

void TStatusWindow::UserClosed()
{
    FVisible = false;
}

} // namespace vl
