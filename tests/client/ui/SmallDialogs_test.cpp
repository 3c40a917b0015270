// The text input dialog, the file-and-folder picker and the about box, offscreen.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
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

TEST(FolderFilePickTest, EnterInTheNameBoxOpensFoldersAndTextNamingNothingIsSaid) {
    testsupport::Sandbox box;
    const fs::path dir = box.Dir("pick");
    fs::create_directories(dir / "photos");
    testsupport::WriteFile(dir / "a.txt", "a");
    const std::string d = dir.string();
    using Kind = FolderFilePick::Kind;
    struct Case {
        const char* name;
        std::vector<std::string> selected;
        std::string typed;
        bool enter;
        Kind kind;
        std::string folderOrTyped;
    } cases[] = {
        // Typing selects the matching item: Enter still opens the folder.
        {"typed folder, selected by typing", {"photos"}, "photos", true, Kind::EnterFolder, d + "/photos"},
        {"typed full path of a folder", {}, d + "/photos/", true, Kind::EnterFolder, d + "/photos"},
        {"typed file", {}, "a.txt", true, Kind::Paths, ""},
        // The OK button on the same selection returns it.
        {"OK on the selected folder", {"photos"}, "photos", false, Kind::Paths, ""},
        {"name that names nothing", {}, "gone", false, Kind::NothingNamed, "gone"},
        {"path that names nothing", {}, "/no/such/place", true, Kind::NothingNamed, "/no/such/place"},
        {"way out of the folder", {}, "../escape", false, Kind::NothingNamed, "../escape"},
    };
    for (const Case& c : cases) {
        const FolderFilePick pick = ResolveFolderFilePick(d, c.selected, c.typed, c.enter);
        EXPECT_EQ(pick.kind, c.kind) << c.name;
        if (c.kind == Kind::EnterFolder) EXPECT_EQ(pick.folder, c.folderOrTyped) << c.name;
        if (c.kind == Kind::NothingNamed) EXPECT_EQ(pick.typed, c.folderOrTyped) << c.name;
        if (c.kind != Kind::Paths) EXPECT_TRUE(pick.paths.empty()) << c.name;
    }
}

namespace {

// The picker shown (no loop of its own) with the keyboard in its name box.
class ShownPicker {
public:
    ShownPicker(const fs::path& folder, bool multiple)
        : dialog(nullptr, "Select files and folders to upload - Dravik", "All files and folders (*)", multiple) {
        dialog.SetTexts("Item Name:", "Upload");
        dialog.setDirectory(QString::fromStdString(folder.string()));
        dialog.show();
        dialog.activateWindow();
        Box()->setFocus();
        EXPECT_TRUE(Pump([&] { return Box()->hasFocus(); }));
    }
    QLineEdit* Box() { return dialog.findChild<QLineEdit*>("fileNameEdit"); }
    static bool Pump(const std::function<bool()>& done) {
        return testsupport::WaitUntil([&] {
            QCoreApplication::processEvents();
            return done();
        });
    }
    void Key(int key, const QString& text = QString()) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(Box(), &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(Box(), &release);
        QCoreApplication::processEvents();
    }
    void Type(const std::string& text) {
        for (QChar c : QString::fromStdString(text)) Key(c.unicode() < 128 ? c.toUpper().unicode() : 0, QString(c));
    }
    QMessageBox* Message() { return dialog.findChild<QMessageBox*>("nothingNamed"); }

    CFolderFileSelectDialog dialog;
};

}  // namespace

TEST(FolderFilePickTest, TheShownPickerOpensATypedFolderOnEnterAndUploadsNothing) {
    TestApp();
    testsupport::Sandbox box;
    const fs::path dir = box.Dir("pick");
    fs::create_directories(dir / "tmp" / "inner");
    testsupport::WriteFile(dir / "tmp" / "big.bin", "b");
    ShownPicker picker(dir, true);
    picker.Type("tmp");
    picker.Key(Qt::Key_Return);
    EXPECT_TRUE(picker.dialog.isVisible()) << "Enter on a folder name opens it";
    EXPECT_EQ(picker.dialog.result(), 0);
    EXPECT_TRUE(picker.dialog.SelectedPaths().empty());
    EXPECT_EQ(picker.dialog.CurrentFolder(), (dir / "tmp").string());
    EXPECT_EQ(picker.Box()->text(), "");

    // A typed full path stays as typed while the list follows it.
    const std::string full = (dir / "tmp" / "inner").string();
    picker.Type(full);
    EXPECT_EQ(picker.Box()->text().toStdString(), full);
    picker.Key(Qt::Key_Return);
    EXPECT_TRUE(picker.dialog.isVisible());
    EXPECT_EQ(picker.dialog.CurrentFolder(), full);

    // A path that names nothing: a message, and the picker stays open with the text.
    picker.Box()->setFocus();
    picker.Type("/no/such/place");
    picker.Key(Qt::Key_Return);
    ASSERT_TRUE(ShownPicker::Pump([&] { return picker.Message() != nullptr && picker.Message()->isVisible(); }));
    EXPECT_NE(picker.Message()->text().indexOf("/no/such/place"), -1);
    EXPECT_TRUE(picker.dialog.isVisible());
    EXPECT_EQ(picker.Box()->text(), "/no/such/place");
    EXPECT_TRUE(picker.dialog.SelectedPaths().empty());
}

TEST(FolderFilePickTest, TheDownloadPickerForgetsTheLastFoldersName) {
    TestApp();
    testsupport::Sandbox box;
    const fs::path dir = box.Dir("pick");
    fs::create_directories(dir / "first");
    fs::create_directories(dir / "second");
    ShownPicker picker(dir, false);
    picker.dialog.setFileMode(QFileDialog::Directory);
    picker.Box()->setText("first");  // what choosing "first" in the list left there
    for (auto* view : picker.dialog.findChildren<QAbstractItemView*>()) {
        if (view->isVisible() && view->objectName() != "sidebar") view->setFocus();
    }
    ASSERT_TRUE(ShownPicker::Pump([&] { return !picker.Box()->hasFocus(); }));
    picker.dialog.setDirectory(QString::fromStdString((dir / "second").string()));
    EXPECT_EQ(picker.dialog.CurrentFolder(), (dir / "second").string());
    // The toolkit writes the entered folder's name into the box as it goes there.
    EXPECT_TRUE(ShownPicker::Pump([&] { return picker.Box()->text().isEmpty(); }))
        << "no stale name from the previous folder: " << picker.Box()->text().toStdString();
    // OK in the folder now open returns that folder.
    picker.dialog.accept();
    EXPECT_EQ(picker.dialog.SelectedPaths(), std::vector<std::string>{(dir / "second").string()});
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
