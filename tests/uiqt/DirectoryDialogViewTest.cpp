// The directory and files dialogs on the offscreen platform: they open
// with their values, and their buttons and keys give the logic's results.
#include "ui/qt/DirDialogViews.h"
#include "ui/qt/DirectoryDialogView.h"
#include "ui/qt/ShellFolderViews.h"

#include "ui/DirectoryDialog.h"
#include "ui/FilesDialog.h"

#include "common/TestUtils.h"
#include "ModalDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace vl;
using namespace Qt::StringLiterals;
using vl::test::MakeTempDir;
using vl::test::WhenModal;

namespace {

template <typename T>
T *Child(QWidget *AParent, const char *AName)
{
    T *child = AParent->findChild<T *>(QLatin1String(AName));
    EXPECT_NE(child, nullptr) << AName;
    return child;
}

struct TQtViews {
    std::unique_ptr<IDirDialogViews> Views = CreateQtDirDialogViews();
    TQtViews() { SetDirDialogViews(Views.get()); }
    ~TQtViews()
    {
        SetDirDialogViews(nullptr);
        FreeShellDirDialog();
    }
};

TShellTreeView *TreeOf(QWidget *ADialog)
{
    return static_cast<TShellDirDialogView *>(ADialog)->Tree();
}

} // namespace

TEST(DirectoryDialogView, OpensOnTheFolderAndOkReturnsIt)
{
    TQtViews views;
    const QString dir = MakeTempDir(u"view"_s);
    QDir().mkpath(dir + u"/sub"_s);
    const QString ini = dir + u"/Velkor.ini"_s;
    test::WriteBytes(ini, "[Directories]\nHeight=480\n");
    CreateShellDirDialog().LoadFromIni(ini, u"Directories"_s);
    WhenModal(u"ShellDirDialog"_s, [&](QWidget *D) {
        EXPECT_EQ(D->windowTitle(), u"Choose"_s);
        EXPECT_EQ(D->height(), 480);
        EXPECT_EQ(Child<QComboBox>(D, "cbxSelectedDir")->currentText(), dir);
        EXPECT_TRUE(Child<QToolButton>(D, "rbComputer")->isChecked());
        EXPECT_FALSE(Child<QToolButton>(D, "rbNetwork")->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(D, "cbxFiles")->isVisible());
        TShellTreeView *tree = TreeOf(D);
        EXPECT_EQ(tree->FolderOf(tree->currentIndex()), dir);
        // Selecting in the tree reaches the path box.
        tree->setCurrentIndex(tree->IndexOf(dir + u"/sub"_s));
        EXPECT_EQ(Child<QComboBox>(D, "cbxSelectedDir")->currentText(), dir + u"/sub"_s);
        Child<QPushButton>(D, "btbOK")->click();
    });
    QString result = dir;
    EXPECT_TRUE(SelectDirectory(u"Choose"_s, false, false, QString(), result));
    EXPECT_EQ(result, dir + u"/sub/"_s);
    // Closing saved the history and the size.
    const QByteArray saved = test::ReadBytes(ini);
    EXPECT_TRUE(saved.contains("History0=" + dir.toUtf8() + "/sub")) << saved.constData();
    EXPECT_TRUE(saved.contains("Height=480")) << saved.constData();
}

TEST(DirectoryDialogView, EscapeLeavesTheFolderUnchanged)
{
    TQtViews views;
    const QString dir = MakeTempDir(u"esc"_s);
    WhenModal(u"ShellDirDialog"_s, [](QWidget *D) {
        Child<QComboBox>(D, "cbxSelectedDir")->setEditText(QDir::homePath());
        QTest::keyClick(D, Qt::Key_Escape);
    });
    QString result = dir;
    EXPECT_FALSE(SelectDirectory(u"t"_s, false, false, QString(), result));
    EXPECT_EQ(result, dir);
}

TEST(DirectoryDialogView, RootButtonsAndTheFilePaneReachTheLogic)
{
    TQtViews views;
    const QString documents = QDir::homePath() + u"/Documents"_s;
    QDir().mkpath(documents + u"/letters"_s);
    test::WriteBytes(documents + u"/letters/a.txt"_s, "a");
    WhenModal(u"ShellDirDialog"_s, [&](QWidget *D) {
        TShellDirDialog &logic = *ShellDirDialog();
        Child<QToolButton>(D, "rbDocuments")->click();
        EXPECT_EQ(logic.ShellTreeView.Root(), TShellRoot::rfPersonal);
        EXPECT_TRUE(Child<QToolButton>(D, "rbDocuments")->isChecked());
        EXPECT_FALSE(Child<QToolButton>(D, "rbComputer")->isChecked());
        TShellTreeView *tree = TreeOf(D);
        // The documents folder is the tree's one top node.
        EXPECT_EQ(tree->FolderOf(tree->model()->index(0, 0, tree->rootIndex())), documents);
        EXPECT_EQ(tree->model()->rowCount(tree->rootIndex()), 1);

        const int narrow = D->width();
        Child<QCheckBox>(D, "cbxFiles")->click();
        EXPECT_TRUE(logic.FileViewOn());
        EXPECT_TRUE(Child<QWidget>(D, "PanelRight")->isVisible());
        EXPECT_GT(D->width(), narrow);
        auto *list = static_cast<TShellDirDialogView *>(D)->List();
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 1; }));
        EXPECT_EQ(list->PathOf(list->model()->index(0, 0, list->rootIndex())), documents + u"/letters/a.txt"_s);

        // Alt+U climbs out of the documents root onto the computer.
        QTest::keyClick(D, Qt::Key_U, Qt::AltModifier);
        EXPECT_EQ(logic.ShellTreeView.Root(), TShellRoot::rfMyComputer);
        EXPECT_EQ(logic.ShellTreeView.Path(), documents);
        QTest::keyClick(D, Qt::Key_Escape);
    });
    QString result = documents + u"/letters"_s;
    EXPECT_FALSE(SelectDirectory(u"t"_s, false, true, QString(), result));
}

TEST(FilesDialogView, ShowsTheDirectoryAndGoesBackUpToItOnly)
{
    TQtViews views;
    const QString dir = MakeTempDir(u"files"_s);
    QDir().mkpath(dir + u"/sub"_s);
    test::WriteBytes(dir + u"/sub/inner.txt"_s, "i");
    test::WriteBytes(dir + u"/top.txt"_s, "t");
    bool ran = false;
    WhenModal(u"ShowFilesDialog"_s, [&](QWidget *D) {
        ran = true;
        EXPECT_EQ(D->windowTitle(), u"Show files"_s);
        EXPECT_EQ(Child<QLabel>(D, "pnTop")->text(), dir);
        auto *up = Child<QToolButton>(D, "btnDirUp");
        EXPECT_FALSE(up->isEnabled());
        auto *list = static_cast<TShowFilesDialogView *>(D)->List();
        EXPECT_EQ(list->toolTip(), u"Directory: "_s + dir);
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 2; }));

        list->OpenFolder(dir + u"/sub"_s);
        EXPECT_EQ(Child<QLabel>(D, "pnTop")->text(), dir + u"/sub"_s);
        EXPECT_TRUE(up->isEnabled());
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 1; }));
        up->click();
        EXPECT_EQ(Child<QLabel>(D, "pnTop")->text(), dir);
        EXPECT_FALSE(up->isEnabled());
        EXPECT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 2; }));
        Child<QPushButton>(D, "OKBtn")->click();
    });
    ShowDirectoryFiles(QString(), dir);
    EXPECT_TRUE(ran);
}
