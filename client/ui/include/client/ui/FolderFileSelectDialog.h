#pragma once
// The picker of upload sources and of the download target: one dialog in which files
// and folders are chosen together. OK returns every chosen item as a full path: the
// selected items of the list that exist, the names typed into the name box that exist in
// the current folder (several names in double quotes), a full path typed alone, or the
// current folder itself when nothing is chosen. A typed name of an existing folder opens
// that folder instead. Cancel returns nothing.
//
// The rules are plain functions (ResolveFolderFilePick, NameBoxAfterSelection) over the
// file system; the widget is Qt's own (non-native) file dialog with its OK and selection
// passing through them. UI thread only.
#include <QFileDialog>

#include <string>
#include <vector>

// What OK does.
struct FolderFilePick {
    enum class Kind { Paths, EnterFolder };
    Kind kind = Kind::Paths;
    std::vector<std::string> paths;  // Paths: the chosen full paths, in order, no repeats
    std::string folder;              // EnterFolder: the folder to open
};

// The names in the name box: each double-quoted name when there are quotes, else the
// whole text (trimmed) as one name; empty names are dropped.
std::vector<std::string> SplitTypedNames(const std::string& typed);

// OK's decision in `currentFolder` with the names selected in the list and the name
// box's text.
FolderFilePick ResolveFolderFilePick(const std::string& currentFolder, const std::vector<std::string>& selected,
                                     const std::string& typed);

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
    class QLineEdit* NameBox() const;
    std::vector<std::string> paths_;
    std::string lastTyped_;
    bool adjusting_ = false;
};
