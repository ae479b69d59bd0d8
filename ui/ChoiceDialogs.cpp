#include "ui/ChoiceDialogs.h"

#include "core/Translate.h"
#include "ui/ListDialogViews.h"

#include <algorithm>
#include <cmath>

namespace vl {

namespace {

// Breaks AText at blanks into lines no wider than AWidth; a word wider than
// that stands on a line of its own.
QStringList WrapWords(const QString &AText, int AWidth, const TTextWidthFunc &TextWidth)
{
    QStringList lines;
    QString line;
    for (const QString &word : AText.split(QLatin1Char(' '))) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && TextWidth(candidate) > AWidth) {
            lines << line;
            line = word;
        } else
            line = candidate;
    }
    lines << line;
    return lines;
}

} // namespace

TSelectDialog::TSelectDialog(const QString &ATitle, const QString &ACaption, TMsgDlgType DlgType,
                             TFontStyles ACaptionFormat, const QStringList &AButtons, const QString &AOption,
                             int ButtonWidth, int PreSelection, const QString &DefaultButton,
                             bool AActiveScreenReader)
    : FDlgType(DlgType), FCaptionFormat(ACaptionFormat), FButtonWidth(ButtonWidth), FPreSelection(PreSelection),
      FActiveScreenReader(AActiveScreenReader)
{
    Form.SetCaption(ATitle);
    stCaption.SetCaption(ACaption);
    cbOption.SetCaption(AOption);
    cbOption.SetVisible(!AOption.isEmpty());
    cbOption.SetChecked(!AOption.isEmpty() && PreSelection > 0 && (PreSelection & 0x100) != 0);
    for (int i = 0; i <= AButtons.size(); ++i) {
        auto button = std::make_unique<TButtonState>();
        const bool cancel = i == AButtons.size();
        if (!cancel)
            button->SetCaption(AButtons[i]);
        else
            button->SetCaption(DefaultButton.isEmpty() ? TrDomain(kDialogsDomain, "Cancel") : DefaultButton);
        const int choice = cancel ? -1 : i;
        button->OnClick = [this, choice](TControlState &) {
            FSelection = choice;
            CloseModal(choice >= 0 ? mrOk : mrCancel);
        };
        Buttons.push_back(std::move(button));
    }
}

int TSelectDialog::FocusButton() const
{
    if (FActiveScreenReader)
        return -1;
    const int n = AnswerCount();
    int p = FPreSelection;
    if (p > 0) {
        p &= 0xFF;
        if (p > n)
            p = -1;
    }
    return p < 0 ? n : p;
}

int TSelectDialog::Result() const
{
    if (FSelection >= 0 && cbOption.Visible() && cbOption.Checked())
        return FSelection + kChoiceOptionChecked;
    return FSelection;
}

TChoiceLayout TSelectDialog::Layout(const TChoiceMetrics &Metrics) const
{
    const auto s = [&](int AValue) { return ScaleToFormDpi(AValue, Metrics.FormDpi); };
    const int fh = Metrics.FontHeight;
    const int lineHeight = int(std::lround(1.2 * fh));
    const int w = s(FButtonWidth > 0 ? FButtonWidth : 105);
    const int l = s(50);
    const int g = s(10);
    const int rowWidth = s(70) + 3 * w;

    TChoiceLayout result;
    // The question.
    const QString question = stCaption.Caption();
    int t = MultiLineTextWidth(question, Metrics.TextWidth);
    if (FCaptionFormat.Contains(TFontStyle::fsBold))
        t = t * 5 / 4;
    const int n = CountTextLines(question);
    const int captionHeight = g + int(std::lround(n * 1.2 * fh));
    result.Caption = QRect(l, g, std::max(t, rowWidth - l - g), captionHeight);
    const int clientWidth = t < rowWidth - l - g ? rowWidth : l + t + g;
    if (ShowsIcon())
        result.Icon = QRect(s(10), g, s(32), s(32));

    const int h = int(std::lround(2.4 * fh));
    const int rowStep = h * 30 / 26;
    int y = result.Caption.top() + captionHeight + g;

    // The option box, its text wrapped to the dialog's width.
    if (cbOption.Visible()) {
        const int width = clientWidth - l - s(10);
        const QStringList lines = WrapWords(cbOption.Caption(), width - s(20), Metrics.TextWidth);
        const int height = int(lines.size()) * lineHeight + s(4);
        result.Option = QRect(l, y - s(5), width, height);
        result.OptionText = lines.join(QLatin1Char('\n'));
        y += height;
    }

    // Answers in rows of three; the last row ends with the cancel button
    // in the third column.
    const int answers = AnswerCount();
    const int full = answers / 3 * 3;
    const int rest = answers % 3;
    const int x0 = clientWidth - (3 * w + s(20));
    const auto place = [&](int ARow, int AColumn) {
        return QRect(x0 + AColumn * (w + s(5)), y + ARow * rowStep, w, h);
    };
    for (int i = 0; i < full; ++i)
        result.Buttons << place(i / 3, i % 3);
    const int lastRow = full / 3;
    for (int k = 0; k < rest; ++k)
        result.Buttons << place(lastRow, 2 - rest + k);
    result.Buttons << place(lastRow, 2);

    result.Client = QSize(clientWidth, y + lastRow * rowStep + rowStep + s(5));
    return result;
}

int SelectChoiceAt(QPoint APos, const QString &ATitle, const QString &ACaption, TMsgDlgType DlgType,
                   TFontStyles ACaptionFormat, const QStringList &AButtons, const QString &AOption,
                   int ButtonWidth, int PreSelection, const QString &DefaultButton)
{
    TSelectDialog dialog(ATitle, ACaption, DlgType, ACaptionFormat, AButtons, AOption, ButtonWidth, PreSelection,
                         DefaultButton);
    dialog.Position = APos;
    ListDialogViews().ExecuteSelectDialog(dialog);
    return dialog.Result();
}

int SelectChoice(const QString &ATitle, const QString &ACaption, TMsgDlgType DlgType, TFontStyles ACaptionFormat,
                 const QStringList &AButtons, const QString &AOption, int ButtonWidth, int PreSelection,
                 const QString &DefaultButton)
{
    return SelectChoiceAt(kDefaultPos, ATitle, ACaption, DlgType, ACaptionFormat, AButtons, AOption, ButtonWidth,
                          PreSelection, DefaultButton);
}

} // namespace vl
