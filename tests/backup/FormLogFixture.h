// A task form whose run log is a file of the test, read back as text.
#pragma once

#include "backup/BackupForm.h"
#include "common/TestUtils.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

namespace vl::test {

class FormLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        VlSettings.OtherSettings.MaxWaitTime = 0;
        Dir = MakeTempDir(QStringLiteral("dest"));
        LogName = MakeTempDir(QStringLiteral("log")) + QStringLiteral("/run.log");
        // Verbose, numbered errors: the lines then show their group.
        ASSERT_EQ(Form.OpenLogFile(0x83, LogName, false), 0);
    }
    void TearDown() override { Form.CloseLogFile(false); }

    QString Log()
    {
        Form.FlushLogFile(1);
        return QString::fromUtf8(ReadBytes(LogName));
    }

    TBackupForm Form;
    QString Dir;
    QString LogName;
};

} // namespace vl::test
