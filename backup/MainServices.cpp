#include "backup/MainServices.h"

#include "backup/FtpSettings.h"
#include "core/XlFileUtils.h"
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
    // Made on first use: most runs never send mail. TLS needs the client
    // certificate files shipped in the program folder.
    if (!FMailer) {
        TCertInfos certs;
        GetCertInfos(certs);
        const bool haveCerts = XlFileExists(certs.CertDir + certs.RootCertFile, true) &&
                               XlFileExists(certs.CertDir + certs.CertFile, true) &&
                               XlFileExists(certs.CertDir + certs.KeyFile, true);
        FMailer = haveCerts ? new TmMailer(certs.CertDir, certs.RootCertFile, certs.CertFile, certs.KeyFile,
                                           certs.Password)
                            : new TmMailer();
    }
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
