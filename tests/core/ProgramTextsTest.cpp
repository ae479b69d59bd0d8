#include "core/ProgramTexts.h"

#include "core/FormatSettings.h"
#include "core/ProgramEnv.h"
#include "core/Settings.h"
#include "core/TextFilter.h"

#include <gtest/gtest.h>

namespace vl {
namespace {

class ProgramTextsTest : public testing::Test {
protected:
    void SetUp() override
    {
        SetFormatSettings(TFormatSettings::Invariant());
        SetDefaultSettings(VlSettings);
        InitTimeFormats(QLocale::c());
    }
    void TearDown() override { SetDefaultSettings(VlSettings); }
};

TEST_F(ProgramTextsTest, OrdinalsAreEnglish)
{
    const struct {
        int n;
        const char *text;
    } cases[] = {
        {0, "no "},     {1, "1st "},     {2, "2nd "},     {3, "3rd "},     {4, "4th "},
        {11, "11th "},  {12, "12th "},   {13, "13th "},   {21, "21st "},   {22, "22nd "},
        {23, "23rd "},  {101, "101st "}, {111, "111th "}, {112, "112th "}, {1000, "1000th "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OrdinalText(c.n), QString::fromUtf8(c.text)) << c.n;
}

TEST_F(ProgramTextsTest, TimeStamps)
{
    EXPECT_EQ(FormatTimeStamp(0), QStringLiteral("Invalid timestamp"));
    EXPECT_EQ(FormatTimeStamp(1.5), QStringLiteral("1899-12-31 12:00:00"));
    EXPECT_EQ(FormatTimeStamp(219148), QStringLiteral("Invalid timestamp"));
    EXPECT_EQ(FormatTimeStamp(219147.5), QStringLiteral("2499-12-31 12:00:00"));

    const TDateTime t = EncodeDateTime(2024, 3, 9, 14, 5, 0, 0);
    EXPECT_EQ(DateTimeText(t), QStringLiteral("2024-03-09 14:05"));
    EXPECT_EQ(DateTimeText(36525.9), QString()); // 1999-12-31
    EXPECT_EQ(DateSuffixText(t), QStringLiteral(" ; 2024-03-09"));
    EXPECT_EQ(DateSuffixText(0), QString());
    EXPECT_EQ(WeekdaysText(1 | 4 | 64), QStringLiteral("Mon,Wed,Sun"));
}

TEST_F(ProgramTextsTest, ComparingDateTimeTexts)
{
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("2024-01-05 10:00"), QStringLiteral("2024-01-06 09:00")), 1);
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("2024-01-05 10:00"), QStringLiteral("2024-01-05 09:59")), -1);
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("2024-01-05 10:00"), QStringLiteral("2024-01-05 10:00:00")), 0);
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("junk"), QStringLiteral("")), 0);
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("junk"), QStringLiteral("2024-01-05")), 1);

    // Day-month-year locale and a 12-hour clock.
    TFormatSettings fs = TFormatSettings::Invariant();
    fs.ShortDateFormat = QStringLiteral("dd.mm.yyyy");
    SetFormatSettings(fs);
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("05.02.2024 11:00 AM"), QStringLiteral("04.03.2024 01:00 AM")), 1);
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("05.02.2024 11:00 AM"), QStringLiteral("05.02.2024 01:00 PM")), 1);
    EXPECT_EQ(CompareDateTimeTexts(QStringLiteral("05.02.2024 12:30 AM"), QStringLiteral("05.02.2024 00:30")), 0);
}

TEST_F(ProgramTextsTest, CountsAndSizes)
{
    EXPECT_EQ(FilesCopiedText(3, 10, 1024, 2048), QStringLiteral("3 of 10 files copied (1.00 KiB of 2.00 KiB)"));
    EXPECT_EQ(FilesCopiedText(12345, 20000, 1000, 2000),
              QStringLiteral("12,345 of 20,000 files copied (1000 B of 1.95 KiB)"));
    VlSettings.LogSettings.DecimalSizes = true;
    EXPECT_EQ(ByteSizeText(true, 2000000), QStringLiteral("2 MB"));
    EXPECT_EQ(ByteSizeText(false, 2000000), QStringLiteral("2.00 MB"));

    EXPECT_EQ(FileCountText(0, false), QStringLiteral("No files"));
    EXPECT_EQ(FileCountText(1, true), QStringLiteral(" (1 file)"));
    EXPECT_EQ(FileCountText(9999, false), QStringLiteral("9999 files"));
    EXPECT_EQ(FileCountText(12345, true), QStringLiteral(" (12,345 files)"));
}

TEST_F(ProgramTextsTest, CommandLineSwitches)
{
    EXPECT_EQ(CmdLineSwitch(QStringLiteral("hide")), QStringLiteral(" /hide"));
    EXPECT_EQ(CmdLineTextSwitch(QStringLiteral("log"), QStringLiteral("/My Logs")), QStringLiteral(" \"/log:/My Logs\""));
    EXPECT_EQ(CmdLineTextSwitch(QStringLiteral("ini"), QStringLiteral("/a/b.ini")), QStringLiteral(" /ini:/a/b.ini"));
    EXPECT_EQ(CmdLineTextSwitch(QStringLiteral("t"), QStringLiteral("say \"hi\"")),
              QStringLiteral(" \"/t:say \"\"hi\"\"\""));
    EXPECT_EQ(CmdLineIntSwitch(QStringLiteral("logmode"), 1), QStringLiteral(" /logmode:1"));
}

TEST_F(ProgramTextsTest, LogModeAndOptions)
{
    const struct {
        uint8_t mode;
        const char *text;
    } cases[] = {
        {0xC6, "Long (SEP)"}, {0x45, "Short (WP)"}, {0x83, "Verbose (E)"},
        {0x07, "Verbose"},    {0xC4, "Off"},        {0x01, "Short"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LogModeText(c.mode), QString::fromUtf8(c.text)) << int(c.mode);

    VlSettings.LogSettings.LogMode = 0x39 | 0x40;
    EXPECT_EQ(HasLogOption(0x08), 0x41);
    EXPECT_EQ(HasLogOption(0x200), 0); // a flag LogMode lacks
    EXPECT_EQ(LogIndentText(3), QStringLiteral("     -> "));
    EXPECT_EQ(LogIndentText(1), QStringLiteral("      "));
}

TEST_F(ProgramTextsTest, DestinationLayouts)
{
    const struct {
        int mode;
        int64_t split;
        const char *text;
    } cases[] = {
        {4, 0, "Zip archive(s) - All files into one zip archive"},
        {6, int64_t(1) << 30, "Zip archive(s) - Separated by drive and subdirectory (<= 1 GiB)"},
        {9, 0, "Zip archive(s)"},
        {1, 0, "Separate files - Full original directory structure"},
        {3, 100, "Separate files - Separated by root directory"},
        {-1, 0, "Separate files"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DestinationLayoutText(c.mode, c.split), QString::fromUtf8(c.text)) << c.mode;
}

TEST_F(ProgramTextsTest, OperationAndErrorTexts)
{
    const struct {
        bool restore, compress, encrypt;
        const char *words;
    } cases[] = {
        {false, false, false, "Copying"},     {false, false, true, "Encrypting"},
        {false, true, false, "Compressing"},  {false, true, true, "Compressing and encrypting"},
        {true, false, false, "Copying"},      {true, false, true, "Decrypting"},
        {true, true, false, "Uncompressing"}, {true, true, true, "Uncompressing and decrypting"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CopyOperationText(c.restore, c.compress, c.encrypt),
                  QString::fromUtf8(c.words) + QStringLiteral(" of \"%s\" (%s) to \"%s\""));

    EXPECT_EQ(DirectoryErrorText(3), QStringLiteral("Directory \"%s\" not found!"));
    EXPECT_EQ(DirectoryErrorText(5), QStringLiteral("Error accessing directory: \"%s\""));
    EXPECT_EQ(TaskErrorText(2), QStringLiteral("Destination path not found!"));
    EXPECT_EQ(TaskErrorText(0), QStringLiteral("Unexpected error!"));
    EXPECT_EQ(ExtensionText(QStringLiteral(".")), QStringLiteral("<ohne>"));
    EXPECT_EQ(ExtensionText(QStringLiteral(".txt")), QStringLiteral("txt"));
    EXPECT_EQ(ExtensionText(QStringLiteral("tar.gz")), QStringLiteral("tar.gz"));
}

TEST_F(ProgramTextsTest, FilterDescriptions)
{
    TTextFilter filter(true, true);
    EXPECT_EQ(FilterDescription(filter), QStringLiteral("All files"));
    filter.SetMode(TFilterMode::fmInclude);
    filter.SetFilter(QStringLiteral("*.doc|*.odt"));
    EXPECT_EQ(FilterDescription(filter), QStringLiteral("only *.doc|*.odt"));
    filter.SetMode(TFilterMode::fmExclude);
    filter.SetRegular(true);
    filter.SetFilter(QStringLiteral("^tmp"));
    EXPECT_EQ(FilterDescription(filter), QStringLiteral("RE: all except ^tmp"));
}

TEST_F(ProgramTextsTest, CaptionsAndTitles)
{
    const TFileVersionInfo saved = ProgramInfo;
    ProgramInfo.InternalName = QStringLiteral("Velkor");
    ProgramInfo.Version = QStringLiteral("6.1.2");
    EXPECT_EQ(WindowCaption(QStringLiteral("Edit"), QStringLiteral("/t/a.buj")), QStringLiteral("Velkor - Edit [a.buj]"));
    EXPECT_EQ(WindowCaption(QString(), QString()), QStringLiteral("Velkor"));
    const QString bits = sizeof(void *) == 8 ? QStringLiteral(" - 64-bit") : QStringLiteral(" - 32-bit");
    EXPECT_EQ(TitleWithVersion(2), QStringLiteral("Velkor") + bits + QStringLiteral(" (Version 6.1)"));
    EXPECT_EQ(TitleWithVersion(0), QStringLiteral("Velkor") + bits);
    EXPECT_TRUE(CopyrightAddressText().startsWith(CopyrightText() + QLatin1Char('\n')));
    ProgramInfo = saved;
}

} // namespace
} // namespace vl
