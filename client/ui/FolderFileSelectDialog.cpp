#include "client/ui/FolderFileSelectDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QMessageBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool IsFolder(const fs::path& path) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(path, ec));
}

// A single name component (no way out of the current folder through the name box).
// A typed full path as the picker shows it: normalised, without a trailing separator.
std::string FolderPathOf(const std::string& typed) {
    fs::path path = fs::path(typed).lexically_normal();
    if (!path.has_filename() && path != path.root_path()) path = path.parent_path();
    return path.string();
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

void AddOnce(std::vector<std::string>& paths, const std::string& path) {
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
}

}  // namespace

std::vector<std::string> SplitTypedNames(const std::string& typed) {
    std::vector<std::string> names;
    if (typed.find('"') == std::string::npos) {
        std::string name = Trim(typed);
        if (!name.empty()) names.push_back(name);
        return names;
    }
    std::size_t pos = 0;
    while ((pos = typed.find('"', pos)) != std::string::npos) {
        const std::size_t end = typed.find('"', pos + 1);
        if (end == std::string::npos) break;
        std::string name = typed.substr(pos + 1, end - pos - 1);
        if (!name.empty()) names.push_back(name);
        pos = end + 1;
    }
    return names;
}

FolderFilePick ResolveFolderFilePick(const std::string& currentFolder, const std::vector<std::string>& selected,
                                     const std::string& typed, bool enterInNameBox) {
    FolderFilePick pick;
    const std::string text = Trim(typed);
    const bool single = !text.empty() && text.find('"') == std::string::npos;
    const bool fullPath = single && text.front() == '/';
    const fs::path folder(currentFolder);
    // Enter in the name box on a folder's name or full path opens that folder, whatever
    // the list shows selected (typing selects the matching item).
    if (enterInNameBox && single && (fullPath ? IsFolder(text) : IsPlainName(text) && IsFolder(folder / text))) {
        pick.kind = FolderFilePick::Kind::EnterFolder;
        pick.folder = fullPath ? FolderPathOf(text) : (folder / text).string();
        return pick;
    }
    // A full path typed alone.
    if (fullPath && Exists(text)) {
        pick.paths.push_back(fs::path(text).lexically_normal().string());
        return pick;
    }
    // A typed name of an existing folder opens it, unless it only repeats the selection.
    if (single && IsPlainName(text) && IsFolder(folder / text) &&
        std::find(selected.begin(), selected.end(), text) == selected.end()) {
        pick.kind = FolderFilePick::Kind::EnterFolder;
        pick.folder = (folder / text).string();
        return pick;
    }
    for (const std::string& name : selected) {
        if (IsPlainName(name) && Exists(folder / name)) AddOnce(pick.paths, (folder / name).string());
    }
    for (const std::string& name : SplitTypedNames(text)) {
        if (IsPlainName(name) && Exists(folder / name)) AddOnce(pick.paths, (folder / name).string());
    }
    if (selected.empty() && text.empty()) pick.paths.push_back(folder.string());
    // Typed text that names nothing (and no selection to return) is said, not dropped.
    if (pick.paths.empty() && !text.empty()) {
        pick.kind = FolderFilePick::Kind::NothingNamed;
        pick.typed = text;
    }
    return pick;
}

std::string NameBoxAfterSelection(const std::vector<std::string>& selected, bool allFolders,
                                  const std::string& dialogText, const std::string& typedByUser) {
    if (selected.empty()) return {};
    if (allFolders) {
        const std::string typed = Trim(typedByUser);
        if (!typed.empty() && std::find(selected.begin(), selected.end(), typed) != selected.end()) return typed;
        return {};
    }
    return dialogText;
}

CFolderFileSelectDialog::CFolderFileSelectDialog(QWidget* parent, const QString& title, const QString& filter,
                                                 bool multiple)
    : QFileDialog(parent, title, QString(), filter) {
    setOption(QFileDialog::DontUseNativeDialog, true);
    // It blocks only the window that asks, never the tray or the program's other windows.
    if (parent != nullptr) setWindowModality(Qt::WindowModal);
    setOption(QFileDialog::HideNameFilterDetails, true);
    setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setDefaultSuffix(QString());
    setSizeGripEnabled(true);
    // Wide enough at its first size for names, sizes, types and dates to show whole.
    const QSize hint = sizeHint();
    resize(std::max(hint.width(), 820), std::max(hint.height(), 480));
    for (const char* name : {"fileTypeLabel", "fileTypeCombo"}) {
        if (QWidget* widget = findChild<QWidget*>(QString::fromLatin1(name))) widget->hide();
    }
    for (const char* name : {"listView", "treeView"}) {
        auto* view = findChild<QAbstractItemView*>(QString::fromLatin1(name));
        if (!view) continue;
        view->setSelectionMode(multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
        if (view->selectionModel()) {
            connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                    [this] { OnSelectionChanged(); });
        }
    }
    // The detail view gives the name what is left once size, type and date show whole.
    if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = details->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column) {
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
    }
    // Another folder opens: the name box forgets the last folder's name, unless the user
    // is typing in it (a typed path stays as typed).
    const auto forgetName = [this] {
        QLineEdit* box = NameBox();
        if (!box || box->hasFocus()) return;
        box->clear();
        lastTyped_.clear();
        // The toolkit writes the entered folder's own name there once it is in it.
        QTimer::singleShot(0, box, [this, box] {
            if (box->hasFocus()) return;
            box->clear();
            lastTyped_.clear();
        });
    };
    connect(this, &QFileDialog::directoryEntered, this, forgetName);
    if (auto* model = findChild<QFileSystemModel*>(QStringLiteral("qt_filesystem_model"))) {
        connect(model, &QFileSystemModel::rootPathChanged, this, forgetName);
    }
    if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Open)) {
            ok->installEventFilter(this);
            ok->setEnabled(true);
        }
    }
    if (QLineEdit* box = NameBox()) {
        box->clear();
        box->installEventFilter(this);
        connect(box, &QLineEdit::textEdited, this, [this](const QString& text) { lastTyped_ = text.toStdString(); });
    }
}

void CFolderFileSelectDialog::SetTexts(const QString& nameLabel, const QString& okText, const QString& cancelText) {
    setLabelText(QFileDialog::FileName, nameLabel);
    setLabelText(QFileDialog::Accept, okText);
    if (!cancelText.isEmpty()) setLabelText(QFileDialog::Reject, cancelText);
}

bool CFolderFileSelectDialog::eventFilter(QObject* watched, QEvent* event) {
    QLineEdit* box = NameBox();
    if (watched == box && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter in the name box: a folder opens, anything else is OK's decision; an
            // empty box with nothing selected chooses nothing.
            const std::string typed = box->text().toStdString();
            if (Trim(typed).empty() && SelectedNames().empty()) return true;
            if (!Carry(ResolveFolderFilePick(CurrentFolder(), SelectedNames(), typed, true))) return true;
            QDialog::accept();
            return true;
        }
    }
    if (event->type() == QEvent::EnabledChange) {
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && !button->isEnabled()) QTimer::singleShot(0, button, [button] { button->setEnabled(true); });
    }
    return QFileDialog::eventFilter(watched, event);
}

QLineEdit* CFolderFileSelectDialog::NameBox() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

std::string CFolderFileSelectDialog::CurrentFolder() const { return directory().absolutePath().toStdString(); }

std::vector<std::string> CFolderFileSelectDialog::SelectedNames() const {
    // Only items of the folder now open count: a selection left from the folder before
    // (or made in another folder by typing a path) is no choice here.
    const auto namesIn = [](const QAbstractItemView* view) {
        std::vector<std::string> names;
        for (const QModelIndex& index : view->selectionModel()->selectedRows(0)) {
            if (index.parent() == view->rootIndex()) names.push_back(index.data(Qt::DisplayRole).toString().toStdString());
        }
        return names;
    };
    std::vector<std::string> names;
    // The view in use (list or details) holds the selection; both share one model.
    for (const char* name : {"listView", "treeView"}) {
        auto* view = findChild<QAbstractItemView*>(QString::fromLatin1(name));
        if (!view || !view->isVisible() || !view->selectionModel()) continue;
        names = namesIn(view);
        if (!names.empty()) break;
    }
    if (names.empty()) {
        // Offscreen or before the views are shown: the list view's selection.
        if (auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView")); view && view->selectionModel()) {
            names = namesIn(view);
        }
    }
    return names;
}

void CFolderFileSelectDialog::OnSelectionChanged() {
    if (adjusting_) return;
    QLineEdit* box = NameBox();
    // While the user types, the list follows the box, never the other way round.
    if (!box || box->hasFocus()) return;
    const std::vector<std::string> names = SelectedNames();
    bool allFolders = true;
    const fs::path folder(CurrentFolder());
    for (const std::string& name : names) allFolders = allFolders && IsFolder(folder / name);
    const std::string text = NameBoxAfterSelection(names, allFolders, box->text().toStdString(), lastTyped_);
    adjusting_ = true;
    if (box->text().toStdString() != text) box->setText(QString::fromStdString(text));
    adjusting_ = false;
    lastTyped_ = text;
}

void CFolderFileSelectDialog::accept() {
    QLineEdit* box = NameBox();
    const std::string typed = box ? box->text().toStdString() : std::string();
    if (Carry(ResolveFolderFilePick(CurrentFolder(), SelectedNames(), typed))) QDialog::accept();
}

bool CFolderFileSelectDialog::Carry(FolderFilePick pick) {
    QLineEdit* box = NameBox();
    switch (pick.kind) {
        case FolderFilePick::Kind::EnterFolder:
            setDirectory(QString::fromStdString(pick.folder));
            if (box) box->clear();
            lastTyped_.clear();
            return false;
        case FolderFilePick::Kind::NothingNamed: {
            // Said beside the picker, which stays open with the text to correct.
            auto* message = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                            QString::fromStdString(pick.typed) + QStringLiteral("\n\n") +
                                                (refusal_.isEmpty() ? QStringLiteral("You can't open this location using "
                                                                                     "this program. Please try a "
                                                                                     "different location.")
                                                                    : refusal_),
                                            QMessageBox::Ok, this);
            message->setObjectName(QStringLiteral("nothingNamed"));
            message->setAttribute(Qt::WA_DeleteOnClose);
            message->open();
            return false;
        }
        case FolderFilePick::Kind::Paths:
            break;
    }
    paths_ = std::move(pick.paths);
    return true;
}

void CFolderFileSelectDialog::reject() {
    paths_.clear();
    QFileDialog::reject();
}
