// The server certificate question: the details as shown, and the answer.
#include "common/MessageRecorder.h"
#include "core/FormatSettings.h"
#include "engine/FtpUtils.h"
#include "ui/CertificateDialog.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace vl::test {
namespace {

TEST(CertificateDialog, IssuerLines)
{
    struct {
        QString Issuer;
        QStringList Lines;
    } const cases[] = {
        {u"/C=XX/O=Org/CN=name"_s, {u"C=XX"_s, u"O=Org"_s, u"CN=name"_s}},
        {u"/CN=Velkor Test Root"_s, {u"CN=Velkor Test Root"_s}},
        {u"CN=no slash/O=x"_s, {u"CN=no slash"_s, u"O=x"_s}}, // nothing dropped
        {QString(), {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CertificateIssuerLines(c.Issuer), c.Lines) << c.Issuer.toStdString();
}

TEST(CertificateDialog, FieldsAndExpiry)
{
    SetFormatSettings(TFormatSettings::Invariant());
    TCerticateInfo info;
    info.Server = u"ftp.example"_s;
    info.Version = 3;
    info.SerialNumber = 0x1234;
    info.Issuer = u"/C=XX/O=Org/CN=name"_s;
    info.Fingerprint = u"ab:cd"_s;
    info.ValidUntil = 46000.5; // 2025-12-09 12:00
    struct {
        TDateTime Now;
        bool Expired;
    } const cases[] = {{46000.4, false}, {46000.5, false}, {46000.6, true}};
    for (const auto &c : cases) {
        const TCertificateText t = CertificateText(info, c.Now);
        EXPECT_EQ(t.Expired, c.Expired) << c.Now;
        EXPECT_EQ(CertificateQuestionText(t).contains(u"This certificate has expired!"_s), c.Expired);
    }
    const TCertificateText t = CertificateText(info, 0);
    EXPECT_EQ(t.Version, u"3"_s);
    EXPECT_EQ(t.Serial, u"4660"_s);
    EXPECT_EQ(t.ValidUntil, u"2025/12/09 12:00:00"_s);
    EXPECT_EQ(t.Fingerprint, u"ab:cd"_s);
    const QString q = CertificateQuestionText(t);
    EXPECT_TRUE(q.contains(u"\r\n  C=XX\r\n  O=Org\r\n  CN=name\r\n"_s)) << q.toStdString();
    EXPECT_TRUE(q.endsWith(u"Please confirm that you trust this certificate"_s));
}

TEST(CertificateDialog, AnswerOfTheQuestion)
{
    TCerticateInfo info;
    info.Issuer = u"/CN=x"_s;
    // Without a display nobody trusts the certificate.
    EXPECT_FALSE(ConfirmServerCertificate(info));
    TMessageRecorder rec;
    struct {
        TModalResult Answer;
        bool Result;
    } const cases[] = {{mrYes, true}, {mrNo, false}, {mrCancel, false}};
    for (const auto &c : cases) {
        rec.Answer = c.Answer;
        EXPECT_EQ(ConfirmServerCertificate(info), c.Result) << c.Answer;
    }
    ASSERT_EQ(rec.Texts.size(), 3);
    EXPECT_TRUE(rec.Texts[0].contains(u"CN=x"_s));
}

} // namespace
} // namespace vl::test
