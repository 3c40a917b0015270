#include "client/ui/FolderFileSelectDialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
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
                                     const std::string& typed) {
    FolderFilePick pick;
    const std::string text = Trim(typed);
    // A full path typed alone.
    if (!text.empty() && text.front() == '/' && text.find('"') == std::string::npos && Exists(text)) {
        pick.paths.push_back(fs::path(text).lexically_normal().string());
        return pick;
    }
    const fs::path folder(currentFolder);
    // A typed name of an existing folder opens it, unless it only repeats the selection.
    if (!text.empty() && text.find('"') == std::string::npos && IsPlainName(text) && IsFolder(folder / text) &&
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
    setOption(QFileDialog::HideNameFilterDetails, true);
    setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setDefaultSuffix(QString());
    setSizeGripEnabled(true);
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
    connect(this, &QFileDialog::directoryEntered, this, [this] {
        if (QLineEdit* box = NameBox()) box->clear();
        lastTyped_.clear();
    });
    if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
        if (QPushButton* ok = buttons->button(QDialogButtonBox::Open)) {
            ok->installEventFilter(this);
            ok->setEnabled(true);
        }
    }
    if (QLineEdit* box = NameBox()) {
        box->clear();
        connect(box, &QLineEdit::textEdited, this, [this](const QString& text) { lastTyped_ = text.toStdString(); });
    }
}

void CFolderFileSelectDialog::SetTexts(const QString& nameLabel, const QString& okText, const QString& cancelText) {
    setLabelText(QFileDialog::FileName, nameLabel);
    setLabelText(QFileDialog::Accept, okText);
    if (!cancelText.isEmpty()) setLabelText(QFileDialog::Reject, cancelText);
}

bool CFolderFileSelectDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button && !button->isEnabled()) QTimer::singleShot(0, button, [button] { button->setEnabled(true); });
    }
    return QFileDialog::eventFilter(watched, event);
}

QLineEdit* CFolderFileSelectDialog::NameBox() const { return findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

std::string CFolderFileSelectDialog::CurrentFolder() const { return directory().absolutePath().toStdString(); }

std::vector<std::string> CFolderFileSelectDialog::SelectedNames() const {
    std::vector<std::string> names;
    // The view in use (list or details) holds the selection; both share one model.
    for (const char* name : {"listView", "treeView"}) {
        auto* view = findChild<QAbstractItemView*>(QString::fromLatin1(name));
        if (!view || !view->isVisible() || !view->selectionModel()) continue;
        for (const QModelIndex& index : view->selectionModel()->selectedRows(0)) {
            names.push_back(index.data(Qt::DisplayRole).toString().toStdString());
        }
        if (!names.empty()) break;
    }
    if (names.empty()) {
        // Offscreen or before the views are shown: the list view's selection.
        if (auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView")); view && view->selectionModel()) {
            for (const QModelIndex& index : view->selectionModel()->selectedRows(0))
                names.push_back(index.data(Qt::DisplayRole).toString().toStdString());
        }
    }
    return names;
}

void CFolderFileSelectDialog::OnSelectionChanged() {
    if (adjusting_) return;
    QLineEdit* box = NameBox();
    if (!box) return;
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
    FolderFilePick pick = ResolveFolderFilePick(CurrentFolder(), SelectedNames(), typed);
    if (pick.kind == FolderFilePick::Kind::EnterFolder) {
        setDirectory(QString::fromStdString(pick.folder));
        if (box) box->clear();
        return;
    }
    paths_ = std::move(pick.paths);
    QDialog::accept();
}

void CFolderFileSelectDialog::reject() {
    paths_.clear();
    QFileDialog::reject();
}
