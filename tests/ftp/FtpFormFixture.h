// A backup form with a verbose log, connected to an FTP peer's login
// directory: the start of every test of the run's FTP side.
#pragma once

#include "backup/BackupForm.h"
#include "common/TestUtils.h"
#include "core/Settings.h"
#include "engine/FtpUtils.h"
#include "ftp/FtpPeers.h"

#include <memory>

namespace vl::test {

struct TFtpForm {
    TBackupForm Form;
    QString LogName;

    bool Connect(const TFtpPeer &APeer)
    {
        VlSettings.OtherSettings.MaxWaitTime = 0;
        LogName = MakeTempDir(QStringLiteral("log")) + QStringLiteral("/run.log");
        if (Form.OpenLogFile(0x83, LogName, false) != 0)
            return false;
        TFtpParams p;
        p.Host = APeer.Host;
        p.Port = APeer.Port;
        p.Username = APeer.User;
        p.ConnTimeout = 5000;
        p.ResponseTimeOut = 10000;
        p.CaseMode = TTextChange::tcNone;
        Form.FTP = std::make_shared<TExtFtp>();
        Form.FTP->SetParams(p);
        Form.FTP->Password = APeer.Password;
        return Form.FTP->DoConnect(1, false) && Form.FTP->SetRemoteDir(QString());
    }
    ~TFtpForm() { Form.CloseLogFile(false); }
    QString Log()
    {
        Form.FlushLogFile(1);
        return QString::fromUtf8(ReadBytes(LogName));
    }
};

} // namespace vl::test
