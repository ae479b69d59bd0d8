#include "ui/FilterDialog.h"

#include "core/Format.h"
#include "core/MessageService.h"
#include "core/StringUtils.h"
#include "core/Translate.h"
#include "ui/History.h"
#include "ui/ListDialogs.h"
#include "ui/ValueDialogViews.h"

namespace vl {

namespace {

const QChar kAndPrefix = QLatin1Char('+');
const QString kMatchAllMask = QStringLiteral("*");
const QString kMatchAllPattern = QStringLiteral(".");

QString gHistoryIniName;
QString gHistorySection;

} // namespace

TFilterDialog::TFilterDialog()
{
    Form.SetCaption(TrDomain(kDialogsDomain, "Text filter dialog"));
    NoMaskBtn.SetCaption(TrDomain(kDialogsDomain, "All"));
    IncMaskBtn.SetCaption(TrDomain(kDialogsDomain, "All matching"));
    ExcMaskBtn.SetCaption(TrDomain(kDialogsDomain, "All not matching"));
    JoinRadioButtons({&NoMaskBtn, &IncMaskBtn, &ExcMaskBtn});
    NoMaskBtn.SetChecked(true);
    lbMask.SetCaption(TrDomain(kDialogsDomain, "Filter expressions:"));
    cbFilter.SetHint(TrDomain(kDialogsDomain, "Filter expressions:"));
    rgEval.SetCaption(TrDomain(kDialogsDomain, "Evaluate multiple expressions by"));
    rgEval.SetItems({TrDomain(kDialogsDomain, "OR operation"), TrDomain(kDialogsDomain, "AND operation")});
    rgEval.SetColumns(2);
    rgEval.SetItemIndex(0);
    btnEditMask.SetCaption(TrDomain(kDialogsDomain, "Edit expressions"));
    RegExpCB.SetCaption(TrDomain(kDialogsDomain, "Use regular expressions"));
    OKBtn.SetCaption(TrDomain(kDialogsDomain, "OK"));
    CancelBtn.SetCaption(TrDomain(kDialogsDomain, "Cancel"));

    // The handlers are set last, so the defaults above run none of them.
    NoMaskBtn.OnClick = [this](TControlState &) { ModeClick(); };
    IncMaskBtn.OnClick = NoMaskBtn.OnClick;
    ExcMaskBtn.OnClick = NoMaskBtn.OnClick;
    RegExpCB.OnClick = [this](TControlState &) { RegExpClick(); };
    rgEval.OnClick = [this](TControlState &) { EvalClick(); };
    cbFilter.OnChange = [this](TControlState &) { FilterChange(); };
    btnEditMask.OnClick = [this](TControlState &) { EditMasks(); };
    OKBtn.OnClick = [this](TControlState &) {
        if (Accept())
            CloseModal(mrOk);
    };
    CancelBtn.OnClick = [this](TControlState &) { CloseModal(mrCancel); };
}

TFilterDialog::~TFilterDialog()
{
    if (FIniName.isEmpty() || FSection.isEmpty())
        return;
    // A destructor cannot pass the failure on; the history is only lost.
    try {
        SaveComboHistory(FIniName, FSection, true, cbFilter, kFilterDropDownCount, false, kFilterDropDownCount);
    } catch (const Exception &e) {
        WriteServiceLog(e.Message());
    }
}

void TFilterDialog::LoadFromIni(const QString &IniName, const QString &IniSection)
{
    FIniName = IniName;
    FSection = IniSection;
    if (!FIniName.isEmpty() && !FSection.isEmpty())
        LoadComboHistory(FIniName, FSection, cbFilter, kFilterDropDownCount, false, kFilterDropDownCount);
}

void TFilterDialog::Setup(QPoint APos, const QString &Titel, const QString &Desc, bool ShowRegular,
                          bool ShowListBtn, TTextFilter &AFilter)
{
    Position = APos;
    Form.SetCaption(Titel);
    gbFilter.SetCaption(Desc);
    RegExpCB.SetVisible(ShowRegular);
    btnEditMask.SetVisible(ShowListBtn);
    FFilter = &AFilter;
    const QString text = AFilter.GetFilter();
    // The text first: selecting AND then finds its "+" already there.
    AddComboHistory(cbFilter, text, kFilterDropDownCount);
    rgEval.SetItemIndex(text.startsWith(kAndPrefix) ? 1 : 0);
    RegExpCB.SetChecked(AFilter.Regular());
    switch (AFilter.Mode()) {
    case TFilterMode::fmInclude:
        IncMaskBtn.SetChecked(true);
        break;
    case TFilterMode::fmExclude:
        ExcMaskBtn.SetChecked(true);
        break;
    case TFilterMode::fmOff:
        NoMaskBtn.SetChecked(true);
        break;
    }
    UpdateEvalControls();
}

bool TFilterDialog::Execute(QPoint APos, const QString &Titel, const QString &Desc, bool ShowRegular,
                            bool ShowListBtn, TTextFilter &AFilter)
{
    Setup(APos, Titel, Desc, ShowRegular, ShowListBtn, AFilter);
    ValueDialogViews().ExecuteFilter(*this);
    FShown = false;
    const bool ok = ModalResult() == mrOk;
    FFilter = nullptr;
    return ok;
}

void TFilterDialog::Shown()
{
    FShown = true;
    ModeClick();
}

void TFilterDialog::ModeClick()
{
    const bool on = !NoMaskBtn.Checked();
    RegExpCB.SetEnabled(on);
    if (!on)
        RegExpCB.SetChecked(false);
    UpdateEvalControls();
    cbFilter.SetEnabled(on);
    if (!on)
        SetFilterText(kMatchAllMask);
    lbMask.SetEnabled(on);
    if (FShown && on && FocusControl)
        FocusControl(cbFilter);
}

void TFilterDialog::UpdateEvalControls()
{
    btnEditMask.SetEnabled(!RegExpCB.Checked());
    rgEval.SetVisible(btnEditMask.Enabled());
}

void TFilterDialog::RegExpClick()
{
    UpdateEvalControls();
    if (RegExpCB.Checked()) {
        if (cbFilter.Text() == kMatchAllMask)
            SetFilterText(kMatchAllPattern);
    } else if (cbFilter.Text() == kMatchAllPattern) {
        SetFilterText(kMatchAllMask);
    }
}

void TFilterDialog::EvalClick()
{
    const QString text = cbFilter.Text();
    if (AndSelected()) {
        if (!text.startsWith(kAndPrefix))
            SetFilterText(kAndPrefix + text);
    } else if (text.startsWith(kAndPrefix)) {
        SetFilterText(text.mid(1));
    }
}

void TFilterDialog::SetFilterText(const QString &AText)
{
    const bool saved = FSettingText;
    FSettingText = true;
    cbFilter.SetText(AText);
    FSettingText = saved;
}

void TFilterDialog::FilterChange()
{
    // An entry the user takes from the history brings its operation with
    // it; texts the dialog sets itself do not.
    if (!FSettingText && cbFilter.ItemIndex() >= 0)
        rgEval.SetItemIndex(cbFilter.Text().startsWith(kAndPrefix) ? 1 : 0);
}

void TFilterDialog::EditMasks()
{
    QString text = cbFilter.Text();
    if (text.startsWith(kAndPrefix))
        text.remove(0, 1);
    TStringList masks(text.split(QLatin1Char('|')));
    const QRect window = ControlScreenRect(Form);
    const QPoint pos = window.isEmpty() ? kDefaultPos : QPoint(window.left() + window.width(), window.top());
    QString focused;
    const TSelectOptions options{TSelectOption::soEdit, TSelectOption::soOrder, TSelectOption::soDelAll,
                                 TSelectOption::soNoConfirm};
    // "Default" brings back the masks the editor opened with.
    if (!SelectFromList(pos, TrDomain(kDialogsDomain, "Filter expressions:"), Form.Caption() + QLatin1Char(':'),
                        QString(), options, 1, TTextChange::tcLower, masks.DelimitedText(), masks, focused))
        return;
    QString joined;
    for (int i = 0; i < masks.Count(); ++i) {
        if (!joined.isEmpty())
            joined += QLatin1Char('|');
        joined += masks.Strings(i);
    }
    if (AndSelected())
        joined.prepend(kAndPrefix);
    SetFilterText(joined);
}

QString TFilterDialog::InvalidFilterMessage(bool ARegular)
{
    const QString pattern = TrDomain(kDialogsDomain, "Invalid filter mask!\r\nShould resemble %s or %s");
    if (ARegular)
        return GuardedFormat(pattern, QStringLiteral("\\D"), QStringLiteral("A+[bc]."));
    return GuardedFormat(pattern, QStringLiteral("*"), QStringLiteral("[ab]*"));
}

bool TFilterDialog::Accept()
{
    if (!FFilter)
        return true;
    if (NoMaskBtn.Checked()) {
        // Switching a filter off keeps its text and kind, so switching it
        // on again later finds the expression the user wrote.
        FFilter->SetMode(TFilterMode::fmOff);
        return true;
    }
    // Everything is tried on a copy: a text that fails validation must
    // leave the caller's filter as it was, for Cancel may follow.
    TTextFilter work(FFilter->IsFileFilter(), false);
    work.Assign(*FFilter);
    QString text = cbFilter.Text();
    if (text.isEmpty()) {
        work.SetRegular(false);
        text = work.GetMatchAll();
        SetFilterText(text);
    } else {
        work.SetRegular(RegExpCB.Visible() && RegExpCB.Checked());
    }
    work.SetMode(IncMaskBtn.Checked() ? TFilterMode::fmInclude : TFilterMode::fmExclude);
    try {
        work.SetFilter(text);
    } catch (const EFilterError &) {
        ShowErrorBox(InvalidFilterMessage(work.Regular()), 0);
        if (FocusControl)
            FocusControl(cbFilter);
        return false;
    }
    FFilter->Assign(work);
    AddComboHistory(cbFilter, FFilter->GetFilter(), kFilterDropDownCount);
    return true;
}

void SetFilterHistoryIni(const QString &IniName, const QString &Section)
{
    gHistoryIniName = IniName;
    gHistorySection = Section;
}

bool EditFilterAt(QPoint APos, const QString &Titel, const QString &Desc, bool ShowRegular, bool ShowListBtn,
                  TTextFilter &AFilter)
{
    TFilterDialog dialog;
    dialog.LoadFromIni(gHistoryIniName, gHistorySection);
    return dialog.Execute(APos, Titel, Desc, ShowRegular, ShowListBtn, AFilter);
}

bool EditFilter(const QString &Titel, const QString &Desc, bool ShowRegular, bool ShowListBtn, TTextFilter &AFilter)
{
    return EditFilterAt(kDefaultPos, Titel, Desc, ShowRegular, ShowListBtn, AFilter);
}

} // namespace vl
