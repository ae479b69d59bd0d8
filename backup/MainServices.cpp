#include "backup/MainServices.h"

#include "engine/Mailer.h"

#include <unistd.h>

namespace vl {

TNullBuMainForm::TNullBuMainForm() = default;

TNullBuMainForm::~TNullBuMainForm()
{
    delete FMailer;
}

bool TNullBuMainForm::IsAdmin() const
{
    return geteuid() == 0;
}

TmMailer &TNullBuMainForm::Mailer()
{
    // Made on first use: most runs never send mail.
    if (!FMailer)
        FMailer = new TmMailer();
    return *FMailer;
}

void TNullBuMainForm::SetExitCode(int AExitCode, int ATaskNr)
{
    ProgExitCode = AExitCode;
    FFailedTask = ATaskNr;
}

namespace {
TNullBuMainForm &NullForm()
{
    static TNullBuMainForm form;
    return form;
}
IBuMainForm *InstalledForm = nullptr;
} // namespace

IBuMainForm &BuMainForm()
{
    return InstalledForm ? *InstalledForm : NullForm();
}

void SetBuMainForm(IBuMainForm *AForm)
{
    InstalledForm = AForm;
}

} // namespace vl
