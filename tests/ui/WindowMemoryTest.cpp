#include "ui/WindowMemory.h"

#include "core/ProgramEnv.h"
#include "common/TestUtils.h"
#include "ListTestViews.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <ostream>

static void PrintTo(const QPoint &p, std::ostream *os)
{
    *os << "(" << p.x() << ", " << p.y() << ")";
}

using namespace vl;
using namespace Qt::StringLiterals;

namespace {

// A window the size of whose frame the window system does not change.
class TFakeForm : public IFormPlacement {
public:
    bool FVisible = true;
    QPoint FPos;
    QSize FClient{400, 300};

    bool Visible() const override { return FVisible; }
    QPoint Pos() const override { return FPos; }
    void SetPos(QPoint APos) override { FPos = APos; }
    QSize ClientSize() const override { return FClient; }
    void SetClientSize(QSize ASize) override { FClient = ASize; }
};

const TMonitorArea Primary{QRect(0, 0, 1920, 1040), 96};
const TMonitorArea Second{QRect(1920, 0, 1280, 1000), 96};

} // namespace

TEST(WindowMemoryTest, RestoreKeepsTheWindowInsideTheWorkAreaOfItsMonitor)
{
    struct Case {
        const char *name;
        TMonitorList monitors;
        TFormPos pos;
        QPoint at;
        QSize client;
    } cases[] = {
        {"one monitor: single-monitor position", {Primary}, {100, 2500, 80, 90, 600, 400, 0, 96}, {100, 80},
         {600, 400}},
        {"two monitors: on the second", {Primary, Second}, {100, 2500, 80, 90, 600, 400, 0, 96}, {2500, 90},
         {600, 400}},
        {"second monitor gone", {Primary}, {3000, 3000, 2000, 2000, 600, 400, 0, 96}, {1270, 590}, {600, 400}},
        {"point on no monitor: primary", {Primary, Second}, {0, -900, 0, -500, 600, 400, 0, 96}, {50, 50},
         {600, 400}},
        {"too wide", {Primary}, {300, 0, 10, 0, 1900, 400, 0, 96}, {50, 10}, {1870, 400}},
        {"too high", {Primary}, {10, 0, 300, 0, 600, 1000, 0, 96}, {10, 50}, {600, 940}},
        {"no monitor known: as stored", {}, {100, 0, 80, 0, 600, 400, 0, 96}, {100, 80}, {600, 400}},
    };
    for (const Case &c : cases) {
        TFakeForm form;
        TFormPos pos = c.pos;
        RestoreFormPos(pos, form, c.monitors);
        EXPECT_EQ(form.FPos, c.at) << c.name;
        EXPECT_EQ(form.FClient, c.client) << c.name;
        EXPECT_EQ(pos.w, c.client.width()) << c.name;
        EXPECT_EQ(pos.wdiff, 0) << c.name;
    }
}

TEST(WindowMemoryTest, OnAnotherDpiTheFormKeepsItsSizeAndThePositionRecordTakesIt)
{
    TFakeForm form;
    form.FClient = QSize(900, 675); // as scaled for 144 dpi
    TFormPos pos{100, 0, 100, 0, 600, 450, 0, 96};
    RestoreFormPos(pos, form, {TMonitorArea{QRect(0, 0, 2560, 1400), 144}});
    EXPECT_EQ(form.FClient, QSize(900, 675));
    EXPECT_EQ(pos.w, 900);
    EXPECT_EQ(pos.h, 675);
    EXPECT_EQ(form.FPos, QPoint(100, 100));
}

TEST(WindowMemoryTest, WdiffIsWhatTheWindowSystemMadeOfTheWidth)
{
    // A window whose minimum width is larger than the stored one.
    class TMinWidthForm : public TFakeForm {
    public:
        void SetClientSize(QSize ASize) override { FClient = QSize(std::max(ASize.width(), 500), ASize.height()); }
    } form;
    TFormPos pos{100, 0, 100, 0, 450, 300, 0, 96};
    RestoreFormPos(pos, form, {Primary});
    EXPECT_EQ(pos.wdiff, 50);
}

TEST(WindowMemoryTest, StoreUsesTheFieldsOfTheMonitorLayoutAndSkipsHiddenForms)
{
    TFakeForm form;
    form.FPos = QPoint(30, 40);
    form.FClient = QSize(700, 500);
    TFormPos pos{1, 2, 3, 4, 5, 6, 7, 8};
    StoreFormPos(pos, form, 1);
    EXPECT_EQ((QList<int>{pos.xprim, pos.xmult, pos.yprim, pos.ymult, pos.w, pos.h, pos.wdiff, pos.dpi}),
              (QList<int>{30, 2, 40, 4, 700, 500, 7, 8}));
    form.FPos = QPoint(2000, 50);
    StoreFormPos(pos, form, 2);
    EXPECT_EQ((QList<int>{pos.xprim, pos.xmult, pos.yprim, pos.ymult}), (QList<int>{30, 2000, 40, 50}));

    form.FVisible = false;
    form.FPos = QPoint(9, 9);
    const TFormPos before = pos;
    StoreFormPos(pos, form, 1);
    EXPECT_EQ(pos.xprim, before.xprim);
    EXPECT_EQ(pos.w, before.w);
}

TEST(WindowMemoryTest, HelpTopicsArePagesInTheProgramsHelpFolder)
{
    const QString saved = ProgramPath;
    ProgramPath = u"/opt/velkor/"_s;
    struct Case {
        QString topic;
        QString url;
    } cases[] = {
        {u"tasks.htm"_s, u"file:///opt/velkor/help/vl-tasks.html"_s},
        {u"ftp.html#proxy"_s, u"file:///opt/velkor/help/vl-ftp.html#proxy"_s},
        {u"filter"_s, u"file:///opt/velkor/help/vl-filter.html"_s},
        {u""_s, u"file:///opt/velkor/help/vl-index.html"_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(HelpTopicUrl(c.topic).toString(), c.url);
    ProgramPath = saved;
}

TEST(WindowMemoryTest, ShowHelpTopicOpensThePageOrSaysHelpIsNotAvailable)
{
    const QString saved = ProgramPath;
    ProgramPath = test::MakeTempDir() + u"/"_s;
    QDir().mkpath(ProgramPath + u"help"_s);
    QFile page(ProgramPath + u"help/vl-tasks.html"_s);
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.close();

    test::TRecordingMessages messages;
    ShowHelpTopic(u"tasks.htm"_s); // no opener: nothing at all
    QList<QUrl> opened;
    bool works = true;
    SetHelpOpener([&](const QUrl &Url) {
        opened << Url;
        return works;
    });
    ShowHelpTopic(u"tasks.htm"_s);
    ShowHelpTopic(u"missing"_s);
    works = false;
    ShowHelpTopic(u"tasks.htm"_s);
    SetHelpOpener(nullptr);
    ProgramPath = saved;

    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].fileName(), u"vl-tasks.html"_s);
    EXPECT_EQ(messages.Texts, (QStringList{u"Help is not available on this system!"_s,
                                           u"Help is not available on this system!"_s}));
}

TEST(WindowMemoryTest, FileTypeItemsFromPairs)
{
    struct Case {
        QString pairs;
        TFileTypeItems items;
    } cases[] = {
        {u"Text files|*.txt|All files|*.*"_s, {{u"Text files"_s, u"*.txt"_s}, {u"All files"_s, u"*.*"_s}}},
        {u""_s, {{u""_s, u""_s}}},
        {u"Logs|*.log;*.txt"_s, {{u"Logs"_s, u"*.log;*.txt"_s}}},
        {u"Only a name"_s, {{u"Only a name"_s, u""_s}}},
    };
    for (const Case &c : cases) {
        TFileTypeItems items{{u"old"_s, u"*"_s}};
        SetFileTypeItems(items, c.pairs);
        EXPECT_EQ(items, c.items) << c.pairs.toStdString();
    }
}

TEST(WindowMemoryTest, ControlHelpers)
{
    TEditState edit;
    edit.SetText(u"C:"_s);
    AppendToEdit(edit, u"/data"_s);
    EXPECT_EQ(edit.Text(), u"C:/data"_s);

    TComboBoxState combo(true);
    combo.SetItems({u"b"_s});
    combo.SetText(u"a"_s);
    UpdateComboHistory(combo);
    AddToComboHistory(combo, u"B"_s);
    EXPECT_EQ(combo.Items(), (QStringList{u"B"_s, u"a"_s}));

    EXPECT_EQ(ValueForStyle(1, 2), 1); // no style manager: the system style
}
