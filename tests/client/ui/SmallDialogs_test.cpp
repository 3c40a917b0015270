// The text input dialog, the file-and-folder picker and the about box, offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <filesystem>

#include "client/core/TextHelpers.h"
#include "client/ui/AboutDlg.h"
#include "client/ui/BitButtonNL.h"
#include "client/ui/DialogInputText.h"
#include "client/ui/FolderFileSelectDialog.h"
#include "client/ui/UiTexts.h"
#include "support/QtApp.h"
#include "support/sandbox.h"
#include "support/wait.h"

namespace fs = std::filesystem;

namespace {

// Runs `body` once the dialog's modal loop is running.
void WhenRunning(std::function<void()> body) { QTimer::singleShot(0, std::move(body)); }

class FrenchTexts final : public UiTexts {
public:
    std::string Text(const std::string& key) const override {
        if (key == "Transfer a total of %d files, including %d successful transmission files, failure %d files.")
            return broken ? "Total %s fichiers" : "%d fichiers : %d réussis, %d échoués.";
        return "[" + key + "]";
    }
    bool broken = false;
};

}  // namespace

TEST(InputTextTest, SelectionStopsBeforeTheLastDot) {
    struct Case {
        const char* text;
        int length;
    } cases[] = {{"report.final.docx", 12}, {"notes", 5}, {".profile", 0}, {"archive.", 7}, {"", 0}};
    for (const Case& c : cases) {
        const auto [start, length] = SelectionBeforeLastDot(QString::fromUtf8(c.text));
        EXPECT_EQ(start, 0) << c.text;
        EXPECT_EQ(length, c.length) << c.text;
    }
}

TEST(InputTextTest, OpensWithTheNameSelectedAndOkTakesTheText) {
    TestApp();
    CDialogInputText dialog;
    dialog.caption = "Input Window - Rename";
    dialog.prompt = "Input the new Name:";
    dialog.okText = "OK";
    dialog.cancelText = "Cancel";
    dialog.initialText = "plan.2024.xlsx";
    bool checked = false;
    WhenRunning([&] {
        QLineEdit* edit = dialog.Edit();
        EXPECT_EQ(edit->objectName(), "1033");
        EXPECT_EQ(edit->selectedText(), "plan.2024");
        EXPECT_TRUE(dialog.findChild<QWidget*>("1018")->isHidden());
        EXPECT_EQ(dialog.findChild<CBitButtonNL*>("1")->text(), "OK");
        edit->setText("budget.xlsx");
        dialog.OnReset();  // Reset brings back the initial text and its selection
        EXPECT_EQ(edit->text(), "plan.2024.xlsx");
        EXPECT_EQ(edit->selectedText(), "plan.2024");
        edit->setText(QString(300, QLatin1Char('a')));
        checked = true;
        dialog.OnOk();
    });
    EXPECT_EQ(dialog.exec(), CDialogInputText::kResultOk);
    EXPECT_TRUE(checked);
    EXPECT_EQ(dialog.GetText().size(), CDialogInputText::kMaxText);
}

TEST(InputTextTest, CancelAndClickingElsewhereEndItCancelled) {
    TestApp();
    {
        CDialogInputText dialog;
        dialog.initialText = "x";
        WhenRunning([&] { dialog.findChild<CBitButtonNL*>("2")->click(); });
        EXPECT_EQ(dialog.exec(), CDialogInputText::kResultCancel);
    }
    {
        CDialogInputText dialog;
        dialog.initialText = "x";
        QWidget other;
        WhenRunning([&] {
            dialog.activateWindow();
            ASSERT_TRUE(testsupport::WaitUntil([&] {
                QApplication::processEvents();
                return dialog.isActiveWindow();
            }));
            other.show();
            other.activateWindow();
        });
        EXPECT_EQ(dialog.exec(), CDialogInputText::kResultCancel);
        EXPECT_TRUE(dialog.GetText().isEmpty());
    }
}

TEST(FolderFilePickTest, ChosenItemsBecomeFullPaths) {
    testsupport::Sandbox box;
    const fs::path dir = box.Dir("pick");
    fs::create_directories(dir / "photos");
    fs::create_directories(dir / "music");
    testsupport::WriteFile(dir / "a.txt", "a");
    testsupport::WriteFile(dir / "b c.txt", "b");
    const std::string d = dir.string();

    FolderFilePick two = ResolveFolderFilePick(d, {"photos", "music", "a.txt"}, "");
    EXPECT_EQ(two.kind, FolderFilePick::Kind::Paths);
    EXPECT_EQ(two.paths, (std::vector<std::string>{d + "/photos", d + "/music", d + "/a.txt"}));

    EXPECT_EQ(ResolveFolderFilePick(d, {}, "").paths, std::vector<std::string>{d});

    // Typed names: quoted ones split, repeats of the selection once, missing ones dropped.
    EXPECT_EQ(ResolveFolderFilePick(d, {"a.txt"}, "\"a.txt\" \"b c.txt\" \"gone.txt\"").paths,
              (std::vector<std::string>{d + "/a.txt", d + "/b c.txt"}));
    EXPECT_EQ(ResolveFolderFilePick(d, {}, "  b c.txt ").paths, std::vector<std::string>{d + "/b c.txt"});
    EXPECT_TRUE(ResolveFolderFilePick(d, {}, "../escape").paths.empty());

    // A full path alone; a typed folder name opens the folder.
    EXPECT_EQ(ResolveFolderFilePick("/", {"x"}, d + "/a.txt").paths, std::vector<std::string>{d + "/a.txt"});
    const FolderFilePick enter = ResolveFolderFilePick(d, {}, "photos");
    EXPECT_EQ(enter.kind, FolderFilePick::Kind::EnterFolder);
    EXPECT_EQ(enter.folder, d + "/photos");
}

TEST(FolderFilePickTest, TheNameBoxFollowsTheSelection) {
    EXPECT_EQ(NameBoxAfterSelection({}, false, "\"a\"", ""), "");
    EXPECT_EQ(NameBoxAfterSelection({"photos", "music"}, true, "\"photos\" \"music\"", ""), "");
    EXPECT_EQ(NameBoxAfterSelection({"photos"}, true, "photos", "photos"), "photos");
    EXPECT_EQ(NameBoxAfterSelection({"photos", "a.txt"}, false, "\"photos\" \"a.txt\"", ""), "\"photos\" \"a.txt\"");
}

TEST(FolderFilePickTest, TheDialogReturnsTheCurrentFolderWhenNothingIsChosen) {
    TestApp();
    testsupport::Sandbox box;
    const fs::path dir = box.Dir("pick");
    testsupport::WriteFile(dir / "a.txt", "a");
    CFolderFileSelectDialog dialog(nullptr, "Select files and folders to upload - Dravik", "All files and folders (*)");
    dialog.SetTexts("Item Name:", "Upload");
    dialog.setDirectory(QString::fromStdString(dir.string()));
    WhenRunning([&] { dialog.accept(); });
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.SelectedPaths(), std::vector<std::string>{dir.string()});

    WhenRunning([&] { dialog.reject(); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
    EXPECT_TRUE(dialog.SelectedPaths().empty());
}

TEST(AboutTest, ShowsThreeLinesInTheirColours) {
    TestApp();
    KeyTexts keys;
    const std::vector<AboutLine> lines = AboutLines(keys, "1.2.3.4");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "Enterprises content management cloud platform");
    EXPECT_EQ(lines[0].rgb, 0x00B5F3u);
    EXPECT_EQ(lines[1].text, QString::fromStdString("Version 1.2.3.4 (" + BuildMachine() + ")"));
    // The version line names the build's own machine: a 64-bit build never says x86.
    if (sizeof(void*) == 8) EXPECT_NE(BuildMachine(), "x86");
    EXPECT_EQ(lines[1].rgb, 0x333333u);
    EXPECT_EQ(lines[2].rgb, 0x333333u);

    CAboutDlg about(keys, "1.2.3.4");
    EXPECT_EQ(about.windowTitle(), "About Dravik");
    EXPECT_EQ(about.objectName(), "100");
    EXPECT_EQ(about.OkButton()->text(), "OK");
    EXPECT_EQ(about.Picture().pixel(about.Picture().width() - 2, about.Picture().height() - 2), qRgb(255, 255, 255));
    WhenRunning([&] { about.OkButton()->click(); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
}

TEST(UiTextsTest, ATranslationWithOtherPlaceholdersFallsBackToTheKey) {
    FrenchTexts texts;
    const std::string key = "Transfer a total of %d files, including %d successful transmission files, failure %d files.";
    EXPECT_EQ(FormatTranslated(texts, key, {"3", "2", "1"}), "3 fichiers : 2 réussis, 1 échoués.");
    texts.broken = true;
    EXPECT_EQ(FormatTranslated(texts, key, {"3", "2", "1"}),
              "Transfer a total of 3 files, including 2 successful transmission files, failure 1 files.");
    EXPECT_EQ(PlaceholdersOf("100%% of %s in %d"), "sd");
}
