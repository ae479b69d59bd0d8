// The text viewer's logic: decoding of files, search, section and error
// marks, line breaking and page layout for printing, settings in INI files,
// and the program's one viewer.
#include "ui/TextViewer.h"

#include "common/MessageRecorder.h"
#include "common/TestUtils.h"
#include "core/IniFile.h"
#include "core/MessageService.h"
#include "core/PathUtils.h"

#include <gtest/gtest.h>

#include <QFile>

#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

using namespace vl;
using vl::test::MakeTempDir;
using vl::test::ReadBytes;
using vl::test::WriteBytes;

namespace {

QString U(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QByteArray B(const char *bytes, int size)
{
    return QByteArray(bytes, size);
}

// A window that shows nothing and answers from its fields.
class TFakeView : public ITextViewerView {
public:
    explicit TFakeView(TShowTextDialog &ADialog) : FDialog(ADialog) {}

    QString Caption;
    std::optional<QPoint> PlacedAt;
    QRect Geom{100, 80, 861, 551};
    bool Showing = false;
    int Shows = 0;
    int Fronts = 0;
    QString Printer = QStringLiteral("Office");
    std::vector<std::pair<TPrintJob, bool>> Jobs;
    QString OpenAnswer;
    std::optional<TViewerFont> FontAnswer;
    int CodePageAnswer = -1;
    QStringList CodePageItems;
    int CodePageIndex = -2;
    std::optional<QPoint> FindShownAt;
    // Runs while a modal window is open.
    std::function<void()> DuringModal;

    void SetCaption(const QString &ACaption) override { Caption = ACaption; }
    void PlaceAt(QPoint APos) override { PlacedAt = APos; }
    QRect Geometry() const override { return Geom; }
    void SetGeometry(const QRect &ARect) override { Geom = ARect; }
    bool IsShowing() const override { return Showing; }
    void ShowViewer(bool AModal) override
    {
        Showing = true;
        ++Shows;
        FDialog.FormShow();
        if (AModal) {
            if (DuringModal)
                DuringModal();
            CloseViewer();
        }
    }
    void CloseViewer() override
    {
        if (!Showing)
            return;
        Showing = false;
        FDialog.FormClose();
    }
    void BringToFront() override { ++Fronts; }
    QRect ScreenRect(const TControlState *AControl) const override
    {
        if (!AControl)
            return Geom;
        return {Geom.x() + 10, Geom.y() + 30, 101, 25};
    }
    QString ResolvePrinter(const QString &) override { return Printer; }
    bool PrintJob(const TPrintJob &AJob, bool AShowDialog) override
    {
        Jobs.emplace_back(AJob, AShowDialog);
        return true;
    }
    QString AskOpenFile(const QString &, const QString &) override { return OpenAnswer; }
    bool AskFont(TViewerFont &AFont) override
    {
        if (!FontAnswer)
            return false;
        AFont = *FontAnswer;
        return true;
    }
    int AskCodePage(const QStringList &AItems, int AItemIndex) override
    {
        CodePageItems = AItems;
        CodePageIndex = AItemIndex;
        return CodePageAnswer;
    }
    void ShowFindDialog(QPoint APos) override { FindShownAt = APos; }

private:
    TShowTextDialog &FDialog;
};

// Questions of the viewer get Yes unless a test says otherwise.
struct TFakeMessages : test::TMessageRecorder {
    TFakeMessages() { Answer = mrYes; }
};

// A viewer with a fake window.
struct TViewerFixture {
    TShowTextDialog Dialog;
    TFakeView *View;

    TViewerFixture()
    {
        auto view = std::make_unique<TFakeView>(Dialog);
        View = view.get();
        Dialog.AttachView(std::move(view));
    }

    void Open(const QString &AFile, int ALine = -1, TShowDlgButtons AButtons = kAllShowDlgButtons,
              TShowDlgType AType = TShowDlgType::stShow)
    {
        Dialog.Execute(QStringLiteral("Log"), AFile, QStringLiteral("Prev section"), QStringLiteral("Next section"),
                       QStringLiteral("Velkor -"), QStringLiteral("Prev error"), QStringLiteral("Next error"),
                       QStringLiteral("  *** "), QStringLiteral("Logs|*.log"), QPoint(-1, -1), ALine, AType,
                       AButtons, 0);
    }
};

// Lines "line 1" .. "line n", each ending in a line break.
QByteArray NumberedLines(int ACount)
{
    QByteArray data;
    for (int i = 1; i <= ACount; ++i)
        data += "line " + QByteArray::number(i) + "\n";
    return data;
}

QString WriteFile(const QString &AName, const QByteArray &AData)
{
    const QString path = MakeTempDir() + QLatin1Char('/') + AName;
    WriteBytes(path, AData);
    return path;
}

QStringList L(std::initializer_list<const char *> AItems)
{
    QStringList list;
    for (const char *item : AItems)
        list.append(QString::fromUtf8(item));
    return list;
}

int OnePerChar(const QString &Text)
{
    return int(Text.size());
}

} // namespace

// ---- Decoding --------------------------------------------------------------

// The mark decides before zero bytes go; without one, zero bytes go and the
// chosen code page (or UTF-8, else the 8-bit default) reads the rest.
TEST(TextViewerTest, DecodesByMarkThenCodePage)
{
    struct TCase {
        const char *Name;
        QByteArray Bytes;
        int CodePage;
        QString Text;
    };
    const TCase cases[] = {
        {"UTF-16LE with mark", B("\xFF\xFE" "A\0b\0\r\0\n\0\xE4\0", 12), 0, U("Ab\n\xC3\xA4")},
        {"UTF-16BE with mark", B("\xFE\xFF" "\0A\0b\0\n\x04\x34", 10), 0, U("Ab\n\xD0\xB4")},
        {"UTF-16LE mark beats code page", B("\xFF\xFE" "x\0", 4), 1251, U("x")},
        {"UTF-8 mark beats code page", B("\xEF\xBB\xBF" "Gr\xC3\xBC\xC3\x9F" "e", 10), 1251,
         U("Gr\xC3\xBC\xC3\x9F" "e")},
        {"null character in UTF-16 dropped", B("\xFF\xFE" "a\0\0\0b\0", 8), 0, U("ab")},
        {"automatic: valid UTF-8", B("\xC3\xA4", 2), 0, U("\xC3\xA4")},
        {"automatic: 8-bit", B("\xE4 \x80", 3), 0, U("\xC3\xA4 \xE2\x82\xAC")},
        {"Cyrillic code page", B("\xE4", 1), 1251, U("\xD0\xB4")},
        {"DOS code page", B("\x84", 1), 850, U("\xC3\xA4")},
        {"zero bytes between characters", B("a\0b\0\0c", 6), 0, U("abc")},
        {"UTF-16 without mark runs together", B("h\0i\0", 4), 0, U("hi")},
        {"line ends", B("a\r\nb\rc\n", 7), 0, U("a\nb\nc\n")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        bool ok = false;
        EXPECT_EQ(DecodeViewerText(c.Bytes, c.CodePage, &ok), c.Text);
        EXPECT_TRUE(ok);
    }
}

TEST(TextViewerTest, CodePageThatCannotDecodeFallsBackToAnsi)
{
    for (int codePage : {65001, 1, 99999}) {
        SCOPED_TRACE(codePage);
        bool ok = true;
        EXPECT_EQ(DecodeViewerText(B("\xE4", 1), codePage, &ok), U("\xC3\xA4"));
        EXPECT_FALSE(ok);
    }
}

TEST(TextViewerTest, CodePageListStartsWithAutomaticAndIsSorted)
{
    const QList<TCodePageEntry> list = BuildCodePageList(QStringLiteral("Automatic"));
    ASSERT_GT(list.size(), 3);
    EXPECT_EQ(list.first().Text, QStringLiteral("Automatic"));
    EXPECT_EQ(list.first().CodePage, 0);
    bool has1251 = false;
    for (qsizetype i = 1; i < list.size(); ++i) {
        if (i > 1)
            EXPECT_LE(QString::compare(list.at(i - 1).Text, list.at(i).Text, Qt::CaseInsensitive), 0);
        EXPECT_TRUE(list.at(i).Text.endsWith(QStringLiteral(" - (%1)").arg(list.at(i).CodePage)));
        QString text;
        EXPECT_TRUE(DecodeCodePage("abc", list.at(i).CodePage, text)) << list.at(i).CodePage;
        has1251 = has1251 || list.at(i).CodePage == 1251;
    }
    EXPECT_TRUE(has1251);
}

// ---- Search ----------------------------------------------------------------

TEST(TextViewerTest, SearchFromTheSelectionInBothDirections)
{
    const QString text = QStringLiteral("Error one\nerror two\nterrors\nERROR three");
    struct TCase {
        const char *Name;
        QString What;
        int SelStart, SelLength;
        TFindOptions Options;
        int Expected;
    };
    const TCase cases[] = {
        {"down from start", QStringLiteral("error"), 0, 0, {true, false, false}, 0},
        {"down after selection", QStringLiteral("error"), 0, 5, {true, false, false}, 10},
        {"down, case", QStringLiteral("ERROR"), 0, 0, {true, true, false}, 28},
        {"down, whole word skips terrors", QStringLiteral("error"), 11, 0, {true, false, true}, 28},
        {"down, part of a word", QStringLiteral("error"), 11, 0, {true, false, false}, 21},
        {"down, none left", QStringLiteral("error"), 29, 0, {true, false, false}, -1},
        {"up from end", QStringLiteral("error"), 39, 0, {false, false, false}, 28},
        {"up before selection", QStringLiteral("error"), 28, 5, {false, false, false}, 21},
        {"up, case", QStringLiteral("Error"), 39, 0, {false, true, false}, 0},
        {"up, whole word", QStringLiteral("error"), 28, 0, {false, false, true}, 10},
        {"up at start", QStringLiteral("error"), 0, 5, {false, false, false}, -1},
        {"empty text searched", QString(), 0, 0, {true, false, false}, -1},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(SearchText(text, c.What, c.SelStart, c.SelLength, c.Options), c.Expected);
    }
}

// ---- Printing --------------------------------------------------------------

// Widths of one unit per character: a line fits when it is narrower than
// the width.
TEST(TextViewerTest, PrintLinesBreakAfterWordsOrCharacters)
{
    struct TCase {
        const char *Name;
        QString Line;
        int MaxWidth;
        QStringList Pieces;
    };
    const TCase cases[] = {
        {"fits", QStringLiteral("short"), 10, {QStringLiteral("short")}},
        {"empty", QString(), 10, {QString()}},
        {"exactly as wide is broken", QStringLiteral("abcde"), 5, {QStringLiteral("abcd"), QStringLiteral("* e")}},
        {"after blanks", QStringLiteral("aaa bbb ccc"), 9, {QStringLiteral("aaa bbb "), QStringLiteral("* ccc")}},
        {"after backslashes", QStringLiteral("C:\\dir\\sub\\file.txt"), 12,
         {QStringLiteral("C:\\dir\\sub\\"), QStringLiteral("* file.txt")}},
        {"after a closing brace", QStringLiteral("ab} cd"), 5, {QStringLiteral("ab} "), QStringLiteral("* cd")}},
        {"no break left: filled with characters", QStringLiteral("aaa bbbbbbbb"), 9,
         {QStringLiteral("aaa bbbb"), QStringLiteral("* bbbb")}},
        {"no break at all", QStringLiteral("abcdefghij"), 5,
         {QStringLiteral("abcd"), QStringLiteral("* ef"), QStringLiteral("* gh"), QStringLiteral("* ij")}},
        {"first word too wide", QStringLiteral("abcdefgh ij"), 6,
         {QStringLiteral("abcde"), QStringLiteral("* fgh"), QStringLiteral("*  ij")}},
        // Not even one character fits: one per piece, and the job ends.
        {"width 0", QStringLiteral("abc"), 0, {QStringLiteral("a"), QStringLiteral("* b"), QStringLiteral("* c")}},
        {"only the prefix fits", QStringLiteral("abc"), 2,
         {QStringLiteral("a"), QStringLiteral("* b"), QStringLiteral("* c")}},
        {"negative width", QStringLiteral("ab"), -50, {QStringLiteral("a"), QStringLiteral("* b")}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(BreakPrintLine(c.Line, c.MaxWidth, OnePerChar), c.Pieces);
    }
}

TEST(TextViewerTest, PrintLineHeightFollowsFontSize)
{
    EXPECT_EQ(PrintLineHeight(10), 35);
    EXPECT_EQ(PrintLineHeight(8), 28);
    EXPECT_EQ(PrintLineHeight(12), 42);
}

// A page of 2000 x 600 with the default margins (top 150, bottom 150) and
// 10 pt (steps of 38): the header ends at 246, lines start below it at
// 246, 284, ..., 436, so six lines fit a page.
TEST(TextViewerTest, PagesRepeatTheHeaderAndBrokenLinesContinue)
{
    TPrintJob job;
    job.Title = QStringLiteral("Backup log");
    job.FileName = QStringLiteral("/home/user/logs/") + QString(70, QLatin1Char('d')) + QStringLiteral("/run.log");
    job.Settings.Init();
    for (int i = 1; i <= 5; ++i)
        job.Lines.append(QStringLiteral("line %1").arg(i));
    // 20 units per character and 1700 usable: 84 characters fit a line.
    job.Lines.append(QString(100, QLatin1Char('x')));
    for (int i = 7; i <= 12; ++i)
        job.Lines.append(QStringLiteral("line %1").arg(i));
    const auto width = [](const QString &s) { return 20 * int(s.size()); };

    const QList<TPrintItem> items = LayoutPrintJob(job, 2000, 600, width, width);
    EXPECT_EQ(PrintPageCount(items), 3);

    QList<TPrintItem> texts;
    for (const TPrintItem &item : items) {
        if (item.Kind == TPrintItemKind::piText)
            texts.append(item);
    }
    ASSERT_EQ(texts.size(), 13);
    EXPECT_EQ(texts.at(0).Pos, QPoint(200, 246));
    EXPECT_EQ(texts.at(5).Text, QString(84, QLatin1Char('x')));
    EXPECT_EQ(texts.at(5).Page, 1);
    // The rest of the broken line opens page 2, below a new header.
    EXPECT_EQ(texts.at(6).Text, QStringLiteral("* ") + QString(16, QLatin1Char('x')));
    EXPECT_EQ(texts.at(6).Page, 2);
    EXPECT_EQ(texts.at(6).Pos, QPoint(200, 246));
    EXPECT_EQ(texts.at(12).Text, QStringLiteral("line 12"));
    EXPECT_EQ(texts.at(12).Page, 3);

    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        QStringList headers;
        int rules = 0;
        for (const TPrintItem &item : items) {
            if (item.Page != page)
                continue;
            if (item.Kind == TPrintItemKind::piHeader)
                headers.append(item.Text);
            if (item.Kind == TPrintItemKind::piRule) {
                ++rules;
                EXPECT_EQ(item.Pos, QPoint(200, 226));
                EXPECT_EQ(item.Right, 1900);
            }
            // The page number ends at the right limit.
            if (item.Text == QStringLiteral("Page: %1").arg(page))
                EXPECT_EQ(item.Pos, QPoint(1900 - 20 * int(item.Text.size()), 150));
        }
        ASSERT_EQ(headers.size(), 3);
        EXPECT_EQ(headers.at(0), job.Title);
        EXPECT_EQ(headers.at(1), QStringLiteral("Page: %1").arg(page));
        EXPECT_EQ(headers.at(2), QStringLiteral("File: ") + ShortenPath(job.FileName, 74));
        EXPECT_LE(headers.at(2).size(), 80);
        EXPECT_EQ(rules, 1);
    }
}

TEST(TextViewerTest, MarginsWiderThanThePageStillEndTheJob)
{
    TPrintJob job;
    job.Settings.Init();
    job.Settings.Margins = {1500, 3000, 1500, 3000};
    job.Lines = {QStringLiteral("abc"), QStringLiteral("de")};
    const QList<TPrintItem> items = LayoutPrintJob(job, 0, 0, OnePerChar, OnePerChar);
    QStringList texts;
    for (const TPrintItem &item : items)
        if (item.Kind == TPrintItemKind::piText)
            texts.append(item.Text);
    EXPECT_EQ(texts, L({"a", "* b", "* c", "d", "* e"}));
    // Every piece needs its own page, none of them empty.
    EXPECT_EQ(PrintPageCount(items), 5);
}

// ---- Settings --------------------------------------------------------------

TEST(TextViewerTest, PrinterSettingsRoundTripAndDefaults)
{
    const QString ini = MakeTempDir() + QStringLiteral("/velkor.ini");
    TPrinterSettings read;
    read.Init();
    read.PrtName = QStringLiteral("stale");
    LoadPrinterSettings(ini, QStringLiteral("Printer"), read);
    TPrinterSettings defaults;
    defaults.Init();
    EXPECT_EQ(read.PrtName, QString());
    EXPECT_EQ(read.Margins.Left, 200);
    EXPECT_EQ(read.Margins.Top, 150);
    EXPECT_EQ(read.FontName, defaults.FontName);
    EXPECT_EQ(read.FontSize, 10);
    EXPECT_EQ(ViewSettingsIni(), ini);

    TPrinterSettings saved;
    saved.Init();
    saved.PrtName = QStringLiteral("Laser");
    saved.Margins = {11, 22, 33, 44};
    saved.FontName = QStringLiteral("Mono");
    saved.FontSize = 9;
    saved.FontStyle = TFontStyles({TFontStyle::fsBold, TFontStyle::fsUnderline});
    saved.Orientation = TPrinterOrientation::poLandscape;
    SavePrinterSettings(ini, QStringLiteral("Printer"), saved);
    EXPECT_EQ(ReadIniInteger(ini, QStringLiteral("Printer"), QStringLiteral("FontStyle"), -1), 5);

    LoadPrinterSettings(ini, QStringLiteral("Printer"), read);
    EXPECT_EQ(read.PrtName, saved.PrtName);
    EXPECT_EQ(read.Margins.Left, 11);
    EXPECT_EQ(read.Margins.Top, 22);
    EXPECT_EQ(read.Margins.Right, 33);
    EXPECT_EQ(read.Margins.Bottom, 44);
    EXPECT_EQ(read.FontName, saved.FontName);
    EXPECT_EQ(read.FontSize, 9);
    EXPECT_EQ(read.FontStyle, saved.FontStyle);
    EXPECT_EQ(read.Orientation, TPrinterOrientation::poLandscape);

    WriteIniInteger(ini, QStringLiteral("Printer"), QStringLiteral("Orientation"), 2);
    LoadPrinterSettings(ini, QStringLiteral("Printer"), read);
    EXPECT_EQ(read.Orientation, TPrinterOrientation::poPortrait);

    // An empty section reads nothing but still names the INI.
    read.FontSize = 77;
    LoadPrinterSettings(ini, QString(), read);
    EXPECT_EQ(read.FontSize, 77);
    SavePrinterSettings(QString(), QStringLiteral("Printer"), saved);
    EXPECT_EQ(ViewSettingsIni(), QString());
}

TEST(TextViewerTest, ViewSettingsComeFromAndGoToTheIni)
{
    const QString ini = MakeTempDir() + QStringLiteral("/velkor.ini");
    WriteIniInteger(ini, QStringLiteral("View"), QStringLiteral("Left"), 300);
    WriteIniInteger(ini, QStringLiteral("View"), QStringLiteral("Width"), 700);
    WriteIniString(ini, QStringLiteral("View"), QStringLiteral("FontName"), QStringLiteral("Mono"));
    WriteIniInteger(ini, QStringLiteral("View"), QStringLiteral("FontStyle"), 2);
    {
        TViewerFixture f;
        f.Dialog.LoadViewSettings(ini);
        EXPECT_TRUE(f.Dialog.PosFromIni());
        // Missing keys keep the current values.
        EXPECT_EQ(f.View->Geom, QRect(300, 80, 700, 551));
        EXPECT_EQ(f.Dialog.LWidth(), 700);
        EXPECT_EQ(f.Dialog.Memo.Font(), (TViewerFont{QStringLiteral("Mono"), 8, TFontStyles({TFontStyle::fsItalic})}));
        f.View->Geom = QRect(5, 6, 640, 480);
        f.Dialog.Memo.SetFont({QStringLiteral("Fixed"), 12, TFontStyles({TFontStyle::fsBold})});
    }
    const TMemIniFile saved(ini);
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("View"), QStringLiteral("Left"), 0), 5);
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("View"), QStringLiteral("Top"), 0), 6);
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("View"), QStringLiteral("Width"), 0), 640);
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("View"), QStringLiteral("Height"), 0), 480);
    EXPECT_EQ(saved.ReadString(QStringLiteral("View"), QStringLiteral("FontName"), QString()), QStringLiteral("Fixed"));
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("View"), QStringLiteral("FontSize"), 0), 12);
    EXPECT_EQ(saved.ReadInteger(QStringLiteral("View"), QStringLiteral("FontStyle"), 0), 1);
}

TEST(TextViewerTest, MissingViewIniIsNeitherReadNorCreated)
{
    const QString ini = MakeTempDir() + QStringLiteral("/none.ini");
    {
        TViewerFixture f;
        f.Dialog.LoadViewSettings(ini);
        EXPECT_FALSE(f.Dialog.PosFromIni());
        EXPECT_EQ(f.View->Geom, QRect(100, 80, 861, 551));
    }
    EXPECT_FALSE(QFile::exists(ini));
}

// ---- Opening -----------------------------------------------------------------

TEST(TextViewerTest, ButtonsOverlapByOnePixelAndHiddenOnesTakeNoRoom)
{
    const QString file = WriteFile(QStringLiteral("a.log"), NumberedLines(3));
    TViewerFixture f;
    f.Open(file, 1,
           ShowDlgButtons({TShowDlgBtn::sbOpen, TShowDlgBtn::sbPrint, TShowDlgBtn::sbSearch, TShowDlgBtn::sbError}));
    TShowTextDialog &d = f.Dialog;
    EXPECT_EQ(d.OpenBtn.Left, 2);
    EXPECT_EQ(d.UpdateBtn.Left, 102);
    EXPECT_EQ(d.PrintBtn.Left, 137);
    EXPECT_EQ(d.SearchBtn.Left, 237);
    EXPECT_EQ(d.PrevErrBtn.Left, 337);
    EXPECT_EQ(d.NextErrBtn.Left, 372);
    for (const TPanelButtonState *hidden : {&d.FontBtn, &d.EncBtn, &d.DeleteBtn, &d.PrevSectBtn, &d.NextSectBtn})
        EXPECT_FALSE(hidden->Visible());
    EXPECT_TRUE(d.NextErrBtn.Visible());
    EXPECT_EQ(d.NextErrBtn.Hint(), QStringLiteral("Next error"));
    EXPECT_EQ(d.ErrText(), QStringLiteral("  *** "));
    EXPECT_EQ(d.SectText(), QString());
    EXPECT_TRUE(d.CodePageList().isEmpty());
    EXPECT_EQ(f.View->Caption, QStringLiteral("Log [") + file + QStringLiteral("]"));
    EXPECT_EQ(f.View->PlacedAt, QPoint(-1, -1));

    TViewerFixture g;
    g.Open(file, 1, ShowDlgButtons({TShowDlgBtn::sbFont, TShowDlgBtn::sbCodepage}));
    EXPECT_FALSE(g.Dialog.OpenBtn.Visible());
    EXPECT_EQ(g.Dialog.FontBtn.Left, 2);
    EXPECT_EQ(g.Dialog.EncBtn.Left, 37);
    EXPECT_FALSE(g.Dialog.CodePageList().isEmpty());
}

TEST(TextViewerTest, MissingFileGivesAnErrorBoxAndNoWindow)
{
    TFakeMessages messages;
    TViewerFixture f;
    const QString missing = MakeTempDir() + QStringLiteral("/gone.log");
    f.Open(missing);
    EXPECT_EQ(f.View->Shows, 0);
    EXPECT_EQ(messages.Texts, QStringList({QStringLiteral("File: \"") + missing + QStringLiteral("\" not found!")}));
}

TEST(TextViewerTest, StartLineOrEnd)
{
    struct TCase {
        int Lines;
        int Line;
        int CaretLine;
        QString Panel;
    };
    const TCase cases[] = {
        {10, 2, 1, QStringLiteral(" Line: 2 of 11")},
        {10, 1, 0, QStringLiteral(" Line: 1 of 11")},
        {10, 9, 8, QStringLiteral(" Line: 9 of 11")},
        {10, 10, 10, QStringLiteral(" Line: 11 of 11")},
        {3, 5, 3, QStringLiteral(" Line: 4 of 4")},
        {3, -1, 3, QStringLiteral(" Line: 4 of 4")},
        {3, 0, 3, QStringLiteral(" Line: 4 of 4")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Lines << " lines, line " << c.Line);
        TViewerFixture f;
        f.Open(WriteFile(QStringLiteral("a.log"), NumberedLines(c.Lines)), c.Line);
        EXPECT_EQ(f.Dialog.Memo.CaretLine(), c.CaretLine);
        EXPECT_EQ(f.Dialog.StatusPanels[0].Caption(), c.Panel);
        // The find direction is upwards after loading.
        EXPECT_TRUE(f.Dialog.FindDialog.Up.Checked());
    }
}

TEST(TextViewerTest, UnreadableFileShowsOneErrorLine)
{
    TViewerFixture f;
    const QString dir = MakeTempDir();
    f.Dialog.DisplayFile(dir);
    EXPECT_EQ(f.Dialog.Memo.Text(), QStringLiteral("*** Error loading file: \"") + dir + QStringLiteral("\""));
}

TEST(TextViewerTest, UnusableCodePageWarnsAndTurnsToAnsi)
{
    TFakeMessages messages;
    TViewerFixture f;
    const QString file = WriteFile(QStringLiteral("a.txt"), "caf\xE9\n");
    f.Dialog.Execute(QStringLiteral("T"), file, {}, {}, {}, {}, {}, {}, {}, QPoint(-1, -1), 1, TShowDlgType::stShow,
                     kAllShowDlgButtons, 65001);
    EXPECT_EQ(messages.Texts, QStringList({QStringLiteral("Invalid code page - Windows default is used!")}));
    EXPECT_EQ(f.Dialog.CodePage(), kAnsiCodePage);
    EXPECT_EQ(f.Dialog.Memo.Text(), U("caf\xC3\xA9\n"));
}

TEST(TextViewerTest, ChosenCodePageReloadsTheFile)
{
    TViewerFixture f;
    f.Open(WriteFile(QStringLiteral("a.txt"), "\xE4\n"));
    EXPECT_EQ(f.Dialog.Memo.Text(), U("\xC3\xA4\n"));
    int cyrillic = -1;
    for (qsizetype i = 0; i < f.Dialog.CodePageList().size(); ++i)
        if (f.Dialog.CodePageList().at(i).CodePage == 1251)
            cyrillic = int(i);
    ASSERT_GE(cyrillic, 0);
    f.View->CodePageAnswer = cyrillic;
    f.Dialog.EncBtn.UserClick();
    EXPECT_EQ(f.View->CodePageIndex, 0); // "Automatic" was current
    EXPECT_EQ(f.Dialog.CodePage(), 1251);
    EXPECT_EQ(f.Dialog.Memo.Text(), U("\xD0\xB4\n"));
    f.View->CodePageAnswer = -1;
    f.Dialog.EncBtn.UserClick();
    EXPECT_EQ(f.View->CodePageIndex, cyrillic);
    EXPECT_EQ(f.Dialog.CodePage(), 1251);
}

// ---- Search and navigation ---------------------------------------------------

TEST(TextViewerTest, FindDialogSearchesInItsDirectionAndF3Reverses)
{
    TFakeMessages messages;
    TViewerFixture f;
    f.Open(WriteFile(QStringLiteral("a.log"), "Copy a\ncopy b\nCOPY c\n"), 1);
    TShowTextDialog &d = f.Dialog;
    d.SearchBtn.UserClick();
    EXPECT_EQ(f.View->FindShownAt, QPoint(100 + 10 + 101, 80 + 30));

    d.FindDialog.FindText.UserEdit(QStringLiteral("copy"));
    d.FindDialog.Down.UserClick();
    d.FindDialog.FindBtn.UserClick();
    EXPECT_EQ(d.Memo.SelStart(), 0);
    d.FindAgain(false);
    EXPECT_EQ(d.Memo.SelStart(), 7);
    EXPECT_EQ(d.StatusPanels[0].Caption(), QStringLiteral(" Line: 2 of 4"));
    d.FindAgain(true);
    EXPECT_EQ(d.Memo.SelStart(), 0);

    d.FindDialog.MatchCase.UserClick();
    d.FindAgain(false);
    EXPECT_EQ(d.Memo.SelStart(), 7);
    EXPECT_EQ(d.Memo.SelLength(), 4);
    EXPECT_TRUE(messages.Texts.isEmpty());
    d.FindAgain(false);
    EXPECT_EQ(messages.Texts, QStringList({QStringLiteral("\"copy\" not found!")}));
    EXPECT_EQ(d.Memo.SelStart(), 7);
}

TEST(TextViewerTest, MarksNavigateAndMissesGoToTheEnds)
{
    TViewerFixture f;
    f.Open(WriteFile(QStringLiteral("a.log"), "Velkor - run 1\n"    // 0
                                              "  *** first\n"       // 15
                                              "ok\n"                // 27
                                              "Velkor - run 2\n"    // 30
                                              "  *** second\n"),    // 45, 58 at the end
           1);
    TShowTextDialog &d = f.Dialog;
    std::vector<int> scrolls;
    d.Memo.SubscribeMemo([&](TMemoAspect a) {
        if (a == TMemoAspect::maScroll)
            scrolls.push_back(d.Memo.ScrollDelta());
    });
    const QString noErrors = QStringLiteral("No further errors!");
    const QString noSections = QStringLiteral("No further sections!");
    struct TStep {
        TButtonState *Button;
        int SelStart;
        int SelLength;
        QString Panel0;
        QString Panel1;
    };
    const TStep steps[] = {
        {&d.NextErrBtn, 15, 6, QStringLiteral(" Line: 2 of 6"), QString()},
        {&d.NextErrBtn, 45, 6, QStringLiteral(" Line: 5 of 6"), QString()},
        {&d.NextErrBtn, 58, 0, QStringLiteral(" Line: 6 of 6"), noErrors},
        {&d.PrevSectBtn, 30, 8, QStringLiteral(" Line: 4 of 6"), QString()},
        {&d.PrevErrBtn, 15, 6, QStringLiteral(" Line: 2 of 6"), QString()},
        {&d.PrevErrBtn, 0, 0, QStringLiteral(" Line: 1 of 6"), noErrors},
        {&d.NextSectBtn, 0, 8, QStringLiteral(" Line: 1 of 6"), QString()},
        {&d.NextSectBtn, 30, 8, QStringLiteral(" Line: 4 of 6"), QString()},
        {&d.NextSectBtn, 58, 0, QStringLiteral(" Line: 6 of 6"), noSections},
    };
    for (const TStep &s : steps) {
        SCOPED_TRACE(testing::Message() << "to " << s.SelStart);
        s.Button->UserClick();
        EXPECT_EQ(d.Memo.SelStart(), s.SelStart);
        EXPECT_EQ(d.Memo.SelLength(), s.SelLength);
        EXPECT_EQ(d.StatusPanels[0].Caption(), s.Panel0);
        EXPECT_EQ(d.StatusPanels[1].Caption(), s.Panel1);
    }
    // Hits below the first visible line scroll two lines on (downwards only).
    EXPECT_EQ(scrolls, std::vector<int>({2, 2, 2}));

    // The last mark is the find text, searched upwards after loading: F3
    // finds the mark again after a miss at the end.
    EXPECT_EQ(d.FindDialog.FindText.Text(), QStringLiteral("Velkor -"));
    d.NextErrBtn.UserClick();
    EXPECT_EQ(d.Memo.SelStart(), 58);
    d.FindAgain(false);
    EXPECT_EQ(d.Memo.SelStart(), 45);
    EXPECT_EQ(d.Memo.SelText(), QStringLiteral("  *** "));
}

// ---- Deleting ------------------------------------------------------------------

// The file keeps the encoding, mark and line ends it was read in, so a
// log written in a code page or UTF-16 stays readable for its writers.
TEST(TextViewerTest, DeletedSelectionIsSavedAsTheFileWasRead)
{
    struct TCase {
        const char *Name;
        QByteArray Before;
        int CodePage;
        QByteArray After;
    };
    const TCase cases[] = {
        {"8-bit", "caf\xE9\ngone\nend\n", 0, "caf\xE9\nend\n"},
        {"UTF-8 with CR LF", "\xC3\xA4\r\ngone\r\nend", 0, "\xC3\xA4\r\nend"},
        {"UTF-8 with mark", "\xEF\xBB\xBF" "a\ngone\nb\n", 0, "\xEF\xBB\xBF" "a\nb\n"},
        {"UTF-16LE", B("\xFF\xFE" "a\0\r\0\n\0g\0\r\0\n\0b\0", 16), 0, B("\xFF\xFE" "a\0\r\0\n\0b\0", 10)},
        {"chosen code page", "\xE4\ngone\n\xE4\n", 1251, "\xE4\n\xE4\n"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeMessages messages;
        TViewerFixture f;
        const QString file = WriteFile(QStringLiteral("a.txt"), c.Before);
        f.Dialog.Execute(QStringLiteral("T"), file, {}, {}, {}, {}, {}, {}, {}, QPoint(-1, -1), 1,
                         TShowDlgType::stShow, kAllShowDlgButtons, c.CodePage);
        const QString text = f.Dialog.Memo.Text();
        const int second = MemoLineStart(text, 1);
        f.Dialog.Memo.UserSelect(second, MemoLineStart(text, 2) - second, second);
        messages.Answer = mrNo;
        f.Dialog.DeleteKey();
        EXPECT_EQ(ReadBytes(file), c.Before);

        messages.Answer = mrYes;
        f.Dialog.DeleteBtn.UserClick();
        EXPECT_EQ(messages.Texts, L({"Delete selected text?", "Delete selected text?"}));
        EXPECT_EQ(ReadBytes(file), c.After);
        EXPECT_EQ(f.Dialog.StatusPanels[0].Caption(), QStringLiteral(" Line: 2 of 3"));
        // A second deletion goes on from the text just written.
        f.Dialog.Memo.UserSelect(0, 1, 1);
        f.Dialog.DeleteKey();
        bool ok = false;
        TViewerTextFormat format;
        EXPECT_EQ(DecodeViewerText(ReadBytes(file), c.CodePage, &ok, &format), f.Dialog.Memo.Text());
        EXPECT_EQ(EncodeViewerText(f.Dialog.Memo.Text(), format), ReadBytes(file));
    }
}

TEST(TextViewerTest, TextTheFormatCannotHoldIsSavedAsUtf8)
{
    bool kept = true;
    const TViewerTextFormat ansi{TTextEncoding::teWindows1252, 0, QStringLiteral("\r\n")};
    EXPECT_EQ(EncodeViewerText(U("\xD0\xB4\n"), ansi, &kept), QByteArray("\xEF\xBB\xBF\xD0\xB4\r\n"));
    EXPECT_FALSE(kept);
    const TViewerTextFormat cyrillic{TTextEncoding::teUtf8, 1251, QStringLiteral("\n")};
    EXPECT_EQ(EncodeViewerText(U("\xE2\x82\xAC"), cyrillic, &kept), QByteArray("\x88"));
    EXPECT_TRUE(kept);
    EXPECT_EQ(EncodeViewerText(U("\xC3\xA4"), cyrillic, &kept), QByteArray("\xEF\xBB\xBF\xC3\xA4"));
    EXPECT_FALSE(kept);
}

// The memo no longer matches the file: deleting must not write it over.
TEST(TextViewerTest, DeletingASelectionNeverOverwritesWhatTheMemoDoesNotHold)
{
    TFakeMessages messages;
    {
        // Too large to show: the memo holds an error line.
        TViewerFixture f;
        const QString file = WriteFile(QStringLiteral("big.log"), "x");
        {
            QFile big(file);
            ASSERT_TRUE(big.resize(kMaxViewerFileSize));
        }
        f.Open(file, 1);
        ASSERT_TRUE(f.Dialog.Memo.Text().startsWith(QStringLiteral("*** ")));
        f.Dialog.Memo.UserSelect(0, 4, 4);
        f.Dialog.DeleteKey();
        f.Dialog.DeleteBtn.UserClick();
        EXPECT_TRUE(messages.Texts.isEmpty());
        EXPECT_EQ(QFile(file).size(), kMaxViewerFileSize);
    }
    {
        // A run appended to the log after it was shown.
        TViewerFixture f;
        const QString file = WriteFile(QStringLiteral("run.log"), NumberedLines(3));
        f.Open(file, 1);
        WriteBytes(file, NumberedLines(4));
        f.Dialog.Memo.UserSelect(0, 7, 7);
        f.Dialog.DeleteKey();
        EXPECT_EQ(ReadBytes(file), NumberedLines(4));
        EXPECT_EQ(f.Dialog.Memo.Text(), QString::fromLatin1(NumberedLines(4)));
        ASSERT_EQ(messages.Texts.size(), 2);
        EXPECT_EQ(messages.Texts.at(1), QStringLiteral("\"") + file +
                                            QStringLiteral("\" has changed meanwhile and is shown again; "
                                                           "nothing was deleted."));
        // Shown again, it can be edited.
        f.Dialog.Memo.UserSelect(0, 7, 7);
        f.Dialog.DeleteKey();
        EXPECT_EQ(ReadBytes(file), QByteArray("line 2\nline 3\nline 4\n"));
    }
}

TEST(TextViewerTest, DeletingTheFileEmptiesTheMemoAndClosesAModalViewer)
{
    struct TCase {
        TModalResult Answer;
        TShowDlgType Type;
        bool FileKept;
        bool StillShowing;
    };
    const TCase cases[] = {
        {mrYes, TShowDlgType::stModal, false, false},
        {mrNo, TShowDlgType::stModal, true, false},
        {mrYes, TShowDlgType::stShow, false, true},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Answer << " " << int(c.Type));
        TFakeMessages messages;
        messages.Answer = c.Answer;
        TViewerFixture f;
        const QString file = WriteFile(QStringLiteral("a.log"), NumberedLines(2));
        bool showingAfterDelete = true;
        const auto remove = [&] {
            f.Dialog.DeleteBtn.UserClick();
            showingAfterDelete = f.View->Showing;
        };
        if (c.Type == TShowDlgType::stModal)
            f.View->DuringModal = remove;
        f.Open(file, 1, kAllShowDlgButtons, c.Type);
        if (c.Type == TShowDlgType::stShow)
            remove();
        EXPECT_EQ(messages.Texts, QStringList({QStringLiteral("Delete file \"") + file + QStringLiteral("\"?")}));
        EXPECT_EQ(QFile::exists(file), c.FileKept);
        EXPECT_EQ(f.Dialog.Memo.Text().isEmpty(), !c.FileKept);
        EXPECT_EQ(showingAfterDelete, c.StillShowing);
    }
}

// ---- Printing from the viewer ------------------------------------------------

TEST(TextViewerTest, PrintButtonPrintsAllOrTheSelectedLines)
{
    TFakeMessages messages;
    TViewerFixture f;
    const QString file = WriteFile(QStringLiteral("a.log"), NumberedLines(4));
    f.Open(file, 1);
    TShowTextDialog &d = f.Dialog;
    EXPECT_TRUE(d.PrintBtn.Enabled());
    EXPECT_EQ(d.PrinterSettings.PrtName, QStringLiteral("Office"));

    d.PrintBtn.UserClick();
    d.Memo.UserSelect(9, 7, 16); // from inside line 2 into line 3
    messages.Answer = mrYes;
    d.PrintBtn.UserClick();
    messages.Answer = mrNo;
    d.PrintBtn.UserClick();

    ASSERT_EQ(f.View->Jobs.size(), 3u);
    EXPECT_EQ(messages.Texts, L({"Print selected lines?", "Print selected lines?"}));
    const QStringList all = L({"line 1", "line 2", "line 3", "line 4"});
    EXPECT_EQ(f.View->Jobs[0].first.Lines, all);
    EXPECT_EQ(f.View->Jobs[1].first.Lines, L({"line 2", "line 3"}));
    EXPECT_EQ(f.View->Jobs[2].first.Lines, all);
    const TPrintJob &job = f.View->Jobs[0].first;
    EXPECT_TRUE(f.View->Jobs[0].second); // with the print dialog
    EXPECT_EQ(job.DocName, QStringLiteral("Log [") + file + QStringLiteral("]"));
    EXPECT_EQ(job.Title, QStringLiteral("Log"));
    EXPECT_EQ(job.FileName, file);
}

TEST(TextViewerTest, WithoutPrinterThePrintButtonIsDisabled)
{
    TViewerFixture f;
    f.View->Printer.clear();
    f.Dialog.PrinterSettings.PrtName = QStringLiteral("Gone");
    f.Open(WriteFile(QStringLiteral("a.log"), NumberedLines(1)));
    EXPECT_FALSE(f.Dialog.PrintBtn.Enabled());
    EXPECT_EQ(f.Dialog.PrinterSettings.PrtName, QString());
}

TEST(TextViewerTest, ChoosesAnInstalledPrinter)
{
    struct TCase {
        QStringList Installed;
        QString Default;
        QString Wanted;
        QString Chosen;
    };
    const TCase cases[] = {
        {{}, QString(), QStringLiteral("Laser"), QString()},
        {L({"Laser", "Ink"}), QStringLiteral("Ink"), QStringLiteral("Laser"), QStringLiteral("Laser")},
        {L({"Laser", "Ink"}), QStringLiteral("Ink"), QStringLiteral("Gone"), QStringLiteral("Ink")},
        {L({"Laser", "Ink"}), QStringLiteral("Ink"), QString(), QStringLiteral("Ink")},
        {L({"Laser", "Ink"}), QString(), QStringLiteral("Gone"), QStringLiteral("Laser")},
        {L({"PDF"}), QStringLiteral("PDF"), QStringLiteral("PDF"), QStringLiteral("PDF")},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Installed.join(QLatin1Char(',')).toStdString() + " / " + c.Wanted.toStdString());
        EXPECT_EQ(ChoosePrinter(c.Installed, c.Default, c.Wanted), c.Chosen);
    }
}

// ---- The program's viewer ----------------------------------------------------

namespace {

// Installs fake windows for the program's viewer and removes them again.
struct TInstalledViewer {
    std::vector<std::pair<TPrintJob, bool>> Jobs; // of every viewer, also freed ones
    TFakeView *Last = nullptr;
    std::function<void()> DuringModal;
    bool PrintResult = true;

    TInstalledViewer()
    {
        SetTextViewerViewFactory([this](TShowTextDialog &ADialog) {
            auto view = std::make_unique<TJobView>(ADialog, *this);
            Last = view.get();
            return view;
        });
    }
    ~TInstalledViewer()
    {
        FreeTextViewer();
        SetTextViewerViewFactory({});
    }

    struct TJobView : TFakeView {
        TJobView(TShowTextDialog &ADialog, TInstalledViewer &AOwner) : TFakeView(ADialog), Owner(AOwner)
        {
            DuringModal = [this] {
                if (Owner.DuringModal)
                    Owner.DuringModal();
            };
        }
        bool PrintJob(const TPrintJob &AJob, bool AShowDialog) override
        {
            Owner.Jobs.emplace_back(AJob, AShowDialog);
            return Owner.PrintResult;
        }
        TInstalledViewer &Owner;
    };
};

void ShowLog(const QString &AFile, TShowDlgType AType, QPoint APos = QPoint(-1, -1))
{
    TPrinterSettings printer;
    printer.Init();
    ShowTextFileEx(QStringLiteral("Log"), AFile, {}, {}, {}, {}, {}, {}, {}, APos, -1, AType, kAllShowDlgButtons,
                   printer, 0);
}

} // namespace

TEST(TextViewerTest, WithoutDisplayTheViewerOnlyWritesToTheLog)
{
    QStringList lines;
    SetServiceLogSink([&](const QString &ALine) { lines.append(ALine); });
    const QString file = WriteFile(QStringLiteral("a.log"), NumberedLines(2));
    TPrinterSettings printer;
    printer.Init();
    ShowTextFile(QStringLiteral("Log"), file, QPoint(-1, -1), TShowDlgType::stModal, kAllShowDlgButtons, printer, true,
                 0);
    PrintTextFile(file, printer, 0);
    SetServiceLogSink({});
    EXPECT_EQ(ShowTextDialog(), nullptr);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.at(0).contains(file));
    EXPECT_TRUE(lines.at(1).contains(file));
}

TEST(TextViewerTest, ModalViewerIsFreedNonModalStays)
{
    TInstalledViewer installed;
    const QString first = WriteFile(QStringLiteral("a.log"), NumberedLines(2));
    const QString second = WriteFile(QStringLiteral("b.log"), NumberedLines(5));

    bool visibleDuringRun = false;
    installed.DuringModal = [&] { visibleDuringRun = ShowTextDialog() && ShowTextDialog()->Visible(); };
    ShowLog(first, TShowDlgType::stModal);
    EXPECT_TRUE(visibleDuringRun);
    EXPECT_EQ(ShowTextDialog(), nullptr);

    ShowLog(first, TShowDlgType::stShow);
    TShowTextDialog *viewer = ShowTextDialog();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->Visible());
    TFakeView *view = installed.Last;
    // A visible viewer takes the new file and keeps its caption.
    ShowLog(second, TShowDlgType::stShow);
    EXPECT_EQ(ShowTextDialog(), viewer);
    EXPECT_EQ(view->Shows, 1);
    EXPECT_EQ(view->Fronts, 2);
    EXPECT_EQ(viewer->Memo.LineCount(), 5);
    EXPECT_EQ(viewer->TextName(), second);
    EXPECT_EQ(view->Caption, QStringLiteral("Log [") + first + QStringLiteral("]"));

    FreeTextViewer();
    EXPECT_EQ(ShowTextDialog(), nullptr);
}

TEST(TextViewerTest, NewViewerTakesViewSettingsUnlessAskedNotTo)
{
    TInstalledViewer installed;
    const QString ini = MakeTempDir() + QStringLiteral("/velkor.ini");
    WriteIniInteger(ini, QStringLiteral("View"), QStringLiteral("Width"), 700);
    TPrinterSettings printer;
    LoadPrinterSettings(ini, QStringLiteral("Printer"), printer);
    const QString file = WriteFile(QStringLiteral("a.log"), NumberedLines(2));

    ShowLog(file, TShowDlgType::stShow);
    ASSERT_NE(ShowTextDialog(), nullptr);
    EXPECT_TRUE(ShowTextDialog()->PosFromIni());
    EXPECT_EQ(installed.Last->Geom.width(), 700);
    EXPECT_FALSE(installed.Last->PlacedAt.has_value());
    FreeTextViewer();

    ShowLog(file, TShowDlgType::stShow, QPoint(0, -1));
    ASSERT_NE(ShowTextDialog(), nullptr);
    EXPECT_FALSE(ShowTextDialog()->PosFromIni());
    EXPECT_EQ(installed.Last->PlacedAt, QPoint(0, -1));
    LoadPrinterSettings(QString(), QString(), printer);
}

TEST(TextViewerTest, PrintTextFilePrintsWithoutDialogAndFreesTheViewer)
{
    TInstalledViewer installed;
    const QString shown = WriteFile(QStringLiteral("shown.log"), NumberedLines(1));
    const QString file = WriteFile(QStringLiteral("run.log"), "\xE4\n");
    ShowLog(shown, TShowDlgType::stShow);
    TFakeView *view = installed.Last;
    ASSERT_TRUE(view->Showing);

    TPrinterSettings printer;
    printer.Init();
    printer.PrtName = QStringLiteral("Laser");
    PrintTextFile(file, printer, 1251);
    EXPECT_EQ(ShowTextDialog(), nullptr);
    ASSERT_EQ(installed.Jobs.size(), 1u);
    const auto &[job, withDialog] = installed.Jobs.front();
    EXPECT_FALSE(withDialog);
    EXPECT_EQ(job.DocName, QStringLiteral("run.log"));
    EXPECT_EQ(job.FileName, file);
    EXPECT_EQ(job.Lines, QStringList({U("\xD0\xB4")}));
    EXPECT_EQ(job.Settings.PrtName, QStringLiteral("Laser"));

    QStringList log;
    SetServiceLogSink([&](const QString &ALine) { log.append(ALine); });
    PrintTextFile(MakeTempDir() + QStringLiteral("/missing.log"), printer, 0);
    EXPECT_EQ(installed.Jobs.size(), 1u);
    EXPECT_TRUE(log.isEmpty());
    // Nobody watches an unattended print: a failed one is logged.
    installed.PrintResult = false;
    PrintTextFile(file, printer, 0);
    SetServiceLogSink({});
    EXPECT_EQ(installed.Jobs.size(), 2u);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log.first().contains(file));
}
