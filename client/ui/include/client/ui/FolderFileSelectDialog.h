#pragma once
// The picker of upload sources and of the download target: one dialog in which files
// and folders are chosen together. OK returns every chosen item as a full path: the
// selected items of the list that exist, the names typed into the name box that exist in
// the current folder (several names in double quotes), a full path typed alone, or the
// current folder itself when nothing is chosen. A typed name of an existing folder opens
// that folder instead, and Enter in the name box on a folder's name or path always opens
// it (the list's selection that typing makes is not the user's choice): only the OK
// button, or Enter on a selection made in the list, returns items. Typed text that names
// nothing keeps the picker open with a message. The name box keeps what the user types
// (full paths too) and is emptied when another folder opens otherwise. Cancel returns
// nothing.
//
// The rules are plain functions (ResolveFolderFilePick, NameBoxAfterSelection) over the
// file system; the widget is Qt's own (non-native) file dialog with its OK and selection
// passing through them. UI thread only.
#include <QFileDialog>

#include <string>
#include <vector>

// What OK does.
struct FolderFilePick {
    enum class Kind { Paths, EnterFolder, NothingNamed };
    Kind kind = Kind::Paths;
    std::vector<std::string> paths;  // Paths: the chosen full paths, in order, no repeats
    std::string folder;              // EnterFolder: the folder to open
    std::string typed;               // NothingNamed: the typed text that names nothing
};

// The names in the name box: each double-quoted name when there are quotes, else the
// whole text (trimmed) as one name; empty names are dropped.
std::vector<std::string> SplitTypedNames(const std::string& typed);

// OK's decision in `currentFolder` with the names selected in the list and the name
// box's text; `enterInNameBox` when the user pressed Enter in the name box.
FolderFilePick ResolveFolderFilePick(const std::string& currentFolder, const std::vector<std::string>& selected,
                                     const std::string& typed, bool enterInNameBox = false);

// The name box after the list's selection changed: empty with nothing selected; empty
// when every selected item is a folder, unless the user has just typed text naming one
// of them (`typedByUser`); otherwise what the dialog put there (`dialogText`).
std::string NameBoxAfterSelection(const std::vector<std::string>& selected, bool allFolders,
                                  const std::string& dialogText, const std::string& typedByUser);

class CFolderFileSelectDialog : public QFileDialog {
public:
    // `multiple`: several items may be chosen (uploads); else one (download target).
    CFolderFileSelectDialog(QWidget* parent, const QString& title, const QString& filter, bool multiple = true);

    // The label beside the name box and the OK button's text (and the Cancel button's,
    // when given).
    void SetTexts(const QString& nameLabel, const QString& okText, const QString& cancelText = QString());
    // The message shown below the typed text when it names nothing.
    void SetRefusalText(const QString& text) { refusal_ = text; }

    // The chosen full paths after OK; empty after Cancel.
    const std::vector<std::string>& SelectedPaths() const { return paths_; }
    std::string CurrentFolder() const;

    void accept() override;
    void reject() override;

protected:
    // OK stays enabled with nothing chosen (it then returns the current folder).
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Names selected in the list (for the tests).
    std::vector<std::string> SelectedNames() const;

private:
    void OnSelectionChanged();
    // OK's decision carried out; false when the picker stays open.
    bool Carry(FolderFilePick pick);
    class QLineEdit* NameBox() const;
    QString refusal_;
    std::vector<std::string> paths_;
    std::string lastTyped_;
    bool adjusting_ = false;
};
