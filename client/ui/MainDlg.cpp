#include "client/ui/MainDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>
#include <QUrl>

#include "client/ui/ClientResources.h"
#include "client/ui/DialogInputText.h"
#include "client/ui/DialogLayout.h"
#include "client/ui/FolderFileSelectDialog.h"
#include "client/ui/ListColumns.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

constexpr int kBitmapTopBand = 150;
constexpr int kBitmapSecondBand = 151;
constexpr int kTextIndent = 36;

// The four bitmaps of each button (normal, pressed, hover, disabled).
struct ButtonBitmaps {
    int id, normal, pressed, hover, disabled;
};
constexpr ButtonBitmaps kBitmaps[] = {
    {CMainDlg::kIdNewFolder, 153, 152, 155, 154},     {CMainDlg::kIdUpload, 157, 156, 159, 158},
    {CMainDlg::kIdDownload, 161, 160, 163, 162},      {CMainDlg::kIdDelete, 165, 164, 167, 166},
    {CMainDlg::kIdRestore, 268, 267, 270, 269},       {CMainDlg::kIdRename, 169, 168, 171, 170},
    {CMainDlg::kIdEdit, 173, 172, 175, 174},          {CMainDlg::kIdTransferList, 182, 181, 184, 183},
    {CMainDlg::kIdEmptyBin, 272, 271, 274, 273},      {CMainDlg::kIdUpFolder, 186, 185, 188, 187},
    {CMainDlg::kIdRoot, 194, 193, 196, 195},          {CMainDlg::kIdRefresh, 190, 189, 192, 191},
};
constexpr ButtonBitmaps kPreviewBitmaps = {CMainDlg::kIdEdit, 177, 176, 179, 178};

}  // namespace

// ---- table ------------------------------------------------------------------------------------

BrowserTableModel::BrowserTableModel(CloudBrowserModel& model, QObject* parent)
    : QAbstractTableModel(parent), model_(model) {}

int BrowserTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : model_.RowCount(); }

int BrowserTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 7; }

QVariant BrowserTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= model_.RowCount()) return {};
    switch (role) {
        case Qt::DisplayRole:
            return Q(model_.CellText(index.row(), index.column()));
        case Qt::CheckStateRole:
            if (index.column() == 0) return model_.IsChecked(index.row()) ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::DecorationRole:
            if (index.column() == 0)
                return client_ui::RowImage(model_.Row(index.row()).IsFolder());
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue<Qt::Alignment>(
                Qt::AlignVCenter | (index.column() == 0 || index.column() == 6 ? Qt::AlignLeft : Qt::AlignRight));
        case Qt::ToolTipRole:
            if (index.column() == 0) return Q(model_.CellText(index.row(), 0));
            return {};
        default:
            return {};
    }
}

QVariant BrowserTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return Q(model_.Heading(section));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue<Qt::Alignment>(Qt::AlignVCenter |
                                                  (section == 0 || section == 6 ? Qt::AlignLeft : Qt::AlignRight));
    return {};
}

void BrowserTableModel::Reset() {
    beginResetModel();
    endResetModel();
}

void BrowserTableModel::Appended(int first, int count) {
    if (count <= 0) return;
    beginInsertRows({}, first, first + count - 1);
    endInsertRows();
}

void BrowserTableModel::RowChanged(int row, int firstColumn, int lastColumn) {
    if (row < 0 || row >= model_.RowCount()) return;
    emit dataChanged(index(row, firstColumn), index(row, lastColumn));
}

void BrowserTableModel::HeadingsChanged() { emit headerDataChanged(Qt::Horizontal, 0, 6); }

// ---- header with its check box ------------------------------------------------------------------

CheckHeader::CheckHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setHighlightSections(false);
}

void CheckHeader::SetChecked(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    viewport()->update();
}

QRect CheckHeader::BoxRect(const QRect& section) const {
    const int size = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    return QRect(section.left() + 4, section.center().y() - size / 2, size, size);
}

void CheckHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (logicalIndex != 0) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    // The section, then its heading right of the box.
    QStyleOptionHeader option;
    initStyleOption(&option);
    option.rect = rect;
    option.section = 0;
    option.text = model() ? model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
    option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option.position = QStyleOptionHeader::Beginning;
    painter->save();
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    QStyleOptionHeader label = option;
    label.rect = rect.adjusted(BoxRect(rect).right() + 6 - rect.left(), 0, 0, 0);
    style()->drawControl(QStyle::CE_HeaderLabel, &label, painter, this);
    painter->restore();
    QStyleOptionButton box;
    box.rect = BoxRect(rect);
    box.state = QStyle::State_Enabled | (checked_ ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);
}

void CheckHeader::mousePressEvent(QMouseEvent* event) {
    const int section = logicalIndexAt(event->position().toPoint());
    if (section == 0 && event->button() == Qt::LeftButton) {
        const QRect rect(sectionViewportPosition(0), 0, sectionSize(0), height());
        if (BoxRect(rect).adjusted(-3, -3, 3, 3).contains(event->position().toPoint())) {
            if (onCheckClicked) onCheckClicked();
            return;
        }
    }
    // The list does not sort: other clicks on the header do nothing more than Qt's own.
    QHeaderView::mousePressEvent(event);
}

// ---- list ---------------------------------------------------------------------------------------

bool BrowserListView::OnCheckBox(const QPoint& pos) const {
    const QModelIndex index = indexAt(pos);
    if (!index.isValid() || index.column() != 0) return false;
    const QRect cell = visualRect(index);
    const int size = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    return pos.x() < cell.left() + size + 8;
}

void BrowserListView::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton && OnCheckBox(pos)) {
        selectionModel()->select(indexAt(pos), QItemSelectionModel::Toggle | QItemSelectionModel::Rows);
        swallowRelease_ = true;
        return;
    }
    swallowRelease_ = false;
    QTableView::mousePressEvent(event);
}

void BrowserListView::mouseReleaseEvent(QMouseEvent* event) {
    if (swallowRelease_) {
        swallowRelease_ = false;
        return;
    }
    QTableView::mouseReleaseEvent(event);
}

void BrowserListView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A quick second click on a check box toggles it again rather than opening the row.
    if (event->button() == Qt::LeftButton && OnCheckBox(event->position().toPoint())) {
        mousePressEvent(event);
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
}

// ---- buttons ------------------------------------------------------------------------------------

BrowserButton::BrowserButton(QWidget* parent, int id, bool showText) : CBitButtonNL(parent) {
    setObjectName(QString::number(id));
    SetShowText(showText, false);
    SetPressedShift(true, 1, 1, false);
    SetTextColors(QColor(0x22, 0x2b, 0x36), QColor(0x10, 0x4a, 0x8c), false);
    setFocusPolicy(Qt::NoFocus);
}

void BrowserButton::DrawText(QPainter& painter) {
    if (text().isEmpty()) return;
    QRect area = rect().adjusted(kTextIndent, 0, -4, 0);
    if (isDown()) area.translate(1, 1);
    painter.setFont(font());
    painter.setPen(isEnabled() ? CurrentTextColor() : QColor(0x9a, 0xa3, 0xad));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text());
}

// ---- window -------------------------------------------------------------------------------------

CMainDlg::CMainDlg(ClientServices& services, std::function<void()> openTransferList, QWidget* parent,
                   std::function<void()> openLogin)
    : QDialog(parent),
      services_(services),
      openTransferList_(std::move(openTransferList)),
      openLogin_(std::move(openLogin)),
      model_(services, *this) {
    setObjectName(QString::number(kTemplateId));
    setWindowIcon(client_ui::Icon(client_ui::kIconClient));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setFont(client_ui::ClientFont());
    setAcceptDrops(true);
    setSizeGripEnabled(true);

    topBand_ = std::max(client_ui::Bitmap(kBitmapTopBand).height(), 38);
    secondBand_ = std::max(client_ui::Bitmap(kBitmapSecondBand).height(), 34);

    table_ = new BrowserTableModel(model_, this);
    list_ = new BrowserListView(this);
    list_->setObjectName(QString::number(kIdList));
    header_ = new CheckHeader(list_);
    list_->setHorizontalHeader(header_);
    list_->setModel(table_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setShowGrid(true);
    list_->setWordWrap(false);
    list_->setTextElideMode(Qt::ElideMiddle);
    list_->setIconSize(QSize(20, 20));
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setDefaultSectionSize(26);
    list_->setAcceptDrops(false);
    header_->setStretchLastSection(false);
    header_->setSectionResizeMode(0, QHeaderView::Stretch);
    header_->setMinimumSectionSize(30);
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header_->onCheckClicked = [this] { model_.HeaderCheckClicked(); };
    list_->installEventFilter(this);
    connect(list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) model_.ActivateRow(index.row());
    });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                OnSelectionChanged(selected, deselected);
            });

    path_ = new QLabel(this);
    path_->setObjectName(QString::number(kIdPath));
    path_->setTextFormat(Qt::PlainText);

    // The status line under the list, shown while the last server action failed.
    status_ = new QWidget(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setAutoFillBackground(true);
    QPalette statusPalette = status_->palette();
    statusPalette.setColor(QPalette::Window, QColor(0xfd, 0xf3, 0xe1));
    statusPalette.setColor(QPalette::WindowText, QColor(0x5c, 0x3b, 0x00));
    status_->setPalette(statusPalette);
    auto* statusIcon = new QLabel(status_);
    statusIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(16, 16));
    statusText_ = new QLabel(status_);
    statusText_->setObjectName(QStringLiteral("statusText"));
    statusText_->setTextFormat(Qt::PlainText);
    statusText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLogin_ = new QPushButton(status_);
    statusLogin_->setObjectName(QStringLiteral("statusLogin"));
    statusLogin_->setAutoDefault(false);
    statusLogin_->setFocusPolicy(Qt::NoFocus);
    connect(statusLogin_, &QPushButton::clicked, this, [this] {
        if (openLogin_) Post(openLogin_);
    });
    auto* statusLayout = new QHBoxLayout(status_);
    statusLayout->setContentsMargins(10, 4, 10, 4);
    statusLayout->addWidget(statusIcon);
    statusLayout->addWidget(statusText_, 1);
    statusLayout->addWidget(statusLogin_);
    status_->hide();

    MakeButton(kIdNewFolder, true, "New", [this] { model_.NewFolder(); });
    MakeButton(kIdUpload, true, "Upload", [this] { model_.Upload(); });
    MakeButton(kIdDownload, true, "Download", [this] { model_.Download(); });
    MakeButton(kIdEdit, true, "Edit", [this] { model_.Edit(); });
    MakeButton(kIdRename, true, "Rename", [this] { model_.Rename(); });
    MakeButton(kIdDelete, true, "Delete", [this] { model_.Delete(); });
    MakeButton(kIdRestore, true, "Restore", [this] { model_.Restore(); });
    MakeButton(kIdTransferList, true, "Transfer List", [this] { model_.TransferList(); });
    MakeButton(kIdEmptyBin, true, "Empty Recycle Bin", [this] { model_.EmptyRecycleBin(); });
    MakeButton(kIdUpFolder, false, "Up Folder", [this] { model_.GoUp(); });
    MakeButton(kIdRefresh, false, "Refresh", [this] { model_.PostRefresh(); });
    MakeButton(kIdRoot, false, "Root", [this] { model_.GoRoot(); });

    refreshTimer_.setSingleShot(true);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { model_.OnRefreshTimer(); });

    // The size at opening is also the smallest the window can be made.
    resize(960, 620);
    initialWidth_ = 960;
    setMinimumSize(960, 620);
    LayOut();
    model_.Open();
}

CMainDlg::~CMainDlg() {
    model_.Close();
    refreshTimer_.stop();
    // The list and its table read the model: they go before it.
    delete list_;
    delete table_;
}

CBitButtonNL* CMainDlg::Button(int id) const {
    const auto it = buttons_.find(id);
    return it != buttons_.end() ? it->second : nullptr;
}

QString CMainDlg::PathLabelText() const { return path_->text(); }

QString CMainDlg::StatusText() const { return status_->isVisibleTo(this) ? statusText_->text() : QString(); }

BrowserButton* CMainDlg::MakeButton(int id, bool showText, const char* key, std::function<void()> action) {
    auto* button = new BrowserButton(this, id, showText);
    SetButtonBitmaps(button, id);
    button->SetButtonFont(font(), false);
    connect(button, &QAbstractButton::clicked, this, [action = std::move(action)] { action(); });
    buttons_[id] = button;
    captionKeys_[id] = key;
    return button;
}

void CMainDlg::SetButtonBitmaps(BrowserButton* button, int id) {
    for (const ButtonBitmaps& b : kBitmaps) {
        if (b.id != id) continue;
        const ButtonBitmaps& use = id == kIdEdit && editShowsPreview_ ? kPreviewBitmaps : b;
        button->SetBitmapIds(use.normal, use.pressed, use.hover, use.disabled);
        button->SizeToBitmap();
        return;
    }
}

void CMainDlg::LayOut() {
    const int w = width();
    const int h = height();
    const int statusHeight = status_->isVisibleTo(this) ? status_->sizeHint().height() : 0;
    const int listTop = topBand_ + secondBand_;
    list_->setGeometry(0, listTop, w, std::max(0, h - listTop - statusHeight));
    status_->setGeometry(0, h - statusHeight, w, statusHeight);

    int x = 11;
    for (int id : {kIdNewFolder, kIdUpload, kIdDownload, kIdEdit, kIdRename, kIdDelete, kIdRestore}) {
        BrowserButton* b = buttons_[id];
        b->move(x, (topBand_ - b->height()) / 2);
        x += b->width() + 2;
    }
    BrowserButton* transfer = buttons_[kIdTransferList];
    transfer->move(w - 10 - transfer->width(), (topBand_ - transfer->height()) / 2);

    const int band = topBand_;
    int left = 12;
    for (int id : {kIdUpFolder, kIdRefresh, kIdRoot}) {
        BrowserButton* b = buttons_[id];
        b->move(left, band + (secondBand_ - b->height()) / 2);
        left += 36;
    }
    BrowserButton* empty = buttons_[kIdEmptyBin];
    empty->move(w - 10 - empty->width(), band + (secondBand_ - empty->height()) / 2);
    const int pathHeight = std::max(fontMetrics().height() + 4, initialWidth_ * 20 / 902);
    const int pathRight = empty->isVisible() ? empty->x() - 10 : w - 10;
    path_->setGeometry(128, band + (secondBand_ - pathHeight) / 2, std::max(0, pathRight - 128), pathHeight);
}

void CMainDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(QRect(0, 0, width(), topBand_), client_ui::Bitmap(kBitmapTopBand, QSize(width(), topBand_)));
    painter.drawPixmap(QRect(0, topBand_, width(), secondBand_),
                       client_ui::Bitmap(kBitmapSecondBand, QSize(width(), secondBand_)));
}

void CMainDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut();
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    model_.Close();
    QDialog::closeEvent(event);
}

// ---- keys, drop and paste -----------------------------------------------------------------------

bool CMainDlg::HandleKey(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();  // Enter never closes the window
        return true;
    }
    if (event->matches(QKeySequence::Paste) ||
        (event->key() == Qt::Key_V && (event->modifiers() & Qt::ControlModifier))) {
        event->accept();
        // One upload per press: the key's auto-repeat does not paste again.
        if (!event->isAutoRepeat()) {
            const std::vector<std::string> paths = LocalPaths(QApplication::clipboard()->mimeData());
            if (!paths.empty()) model_.UploadLocalPaths(paths);
        }
        return true;
    }
    return false;
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    if (!HandleKey(event)) QDialog::keyPressEvent(event);
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress && HandleKey(static_cast<QKeyEvent*>(event)))
        return true;
    return QDialog::eventFilter(watched, event);
}

std::vector<std::string> CMainDlg::LocalPaths(const QMimeData* mime) {
    std::vector<std::string> paths;
    if (mime == nullptr || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

void CMainDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void CMainDlg::dropEvent(QDropEvent* event) {
    const std::vector<std::string> paths = LocalPaths(event->mimeData());
    if (paths.empty()) return;
    event->acceptProposedAction();
    model_.UploadLocalPaths(paths);
}

// ---- selection and checks -----------------------------------------------------------------------

void CMainDlg::OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    if (syncingSelection_) return;
    auto rows = [](const QItemSelection& selection) {
        std::vector<int> out;
        for (const QModelIndex& index : selection.indexes())
            if (index.column() == 0) out.push_back(index.row());
        return out;
    };
    model_.SelectionChanged(rows(selected), rows(deselected));
}

void CMainDlg::SyncSelectionToChecks() {
    QItemSelectionModel* selection = list_->selectionModel();
    QItemSelection wanted;
    for (int row : model_.CheckedRows()) wanted.select(table_->index(row, 0), table_->index(row, 6));
    syncingSelection_ = true;
    selection->select(wanted, QItemSelectionModel::ClearAndSelect);
    syncingSelection_ = false;
}

// ---- CloudBrowserView ---------------------------------------------------------------------------

void CMainDlg::Post(std::function<void()> work) {
    // Queued on this window's thread; dropped when the window is gone.
    QMetaObject::invokeMethod(this, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

void CMainDlg::RowsReset() {
    table_->Reset();
    SyncSelectionToChecks();
    RowChecksChanged();
}

void CMainDlg::RowsAppended(int first, int count) {
    table_->Appended(first, count);
    header_->SetChecked(model_.AllChecked());
}

void CMainDlg::RowChecksChanged() {
    const bool selectionMatches = [&] {
        const QModelIndexList selected = list_->selectionModel()->selectedRows();
        if (selected.size() != static_cast<int>(model_.CheckedRows().size())) return false;
        for (const QModelIndex& index : selected)
            if (!model_.IsChecked(index.row())) return false;
        return true;
    }();
    if (!selectionMatches) SyncSelectionToChecks();
    if (model_.RowCount() > 0) emit table_->dataChanged(table_->index(0, 0), table_->index(model_.RowCount() - 1, 0));
    header_->SetChecked(model_.AllChecked());
}

void CMainDlg::StatusChanged(int row) { table_->RowChanged(row, 6, 6); }

void CMainDlg::ButtonsChanged() {
    const BrowserButtons& b = model_.Buttons();
    buttons_[kIdNewFolder]->setEnabled(b.newFolder);
    buttons_[kIdUpload]->setEnabled(b.upload);
    buttons_[kIdDownload]->setEnabled(b.download);
    buttons_[kIdDelete]->setEnabled(b.remove);
    buttons_[kIdRestore]->setEnabled(b.restore);
    buttons_[kIdRename]->setEnabled(b.rename);
    BrowserButton* edit = buttons_[kIdEdit];
    if (editShowsPreview_ != b.editIsPreview) {
        editShowsPreview_ = b.editIsPreview;
        SetButtonBitmaps(edit, kIdEdit);
    }
    edit->setText(Q(b.editCaption));
    edit->setEnabled(b.edit);
    BrowserButton* empty = buttons_[kIdEmptyBin];
    const bool wasVisible = empty->isVisibleTo(this);
    empty->setVisible(b.emptyBinVisible);
    empty->setEnabled(b.emptyBinEnabled);
    if (wasVisible != b.emptyBinVisible) LayOut();
}

void CMainDlg::PathChanged() {
    path_->setText(Q(model_.PathText()));
    path_->setToolTip(path_->text());
}

void CMainDlg::TitlesChanged() {
    setWindowTitle(Q(model_.Caption()));
    table_->HeadingsChanged();
    for (auto& [id, button] : buttons_) {
        const QString caption = Q(model_.ButtonCaption(captionKeys_[id]));
        if (id != kIdEdit) button->setText(caption);
        button->setToolTip(caption);
    }
    statusLogin_->setText(Q(services_.Text("Log in again")));
    PathChanged();
    FitColumns();
    if (model_.RowCount() > 0) emit table_->dataChanged(table_->index(0, 0), table_->index(model_.RowCount() - 1, 6));
}

void CMainDlg::FitColumns() {
    // The widths of a 902-pixel window scaled to this one, and never narrower than the
    // heading and the widest usual content in the language in force.
    const QFontMetrics metrics(list_->font());
    auto need = [&](std::initializer_list<std::string> texts) { return client_ui::ColumnWidthFor(metrics, texts); };
    auto text = [&](const char* key) { return services_.Text(key); };
    const int wanted[7] = {
        0,
        need({model_.Heading(1), "10.10"}),
        need({model_.Heading(2), text("Edit"), text("Preview"), text("No permission")}),
        need({model_.Heading(3), "1023.99 MB"}),
        need({model_.Heading(4), "Anna Berger"}),
        need({model_.Heading(5), "2024-12-31 23:59:59"}),
        need({text("Downloading") + " 100.00%", text("Previewing")}),
    };
    for (int column = 1; column < 7; ++column)
        header_->resizeSection(column,
                               std::max(initialWidth_ * CloudBrowserModel::kColumnWeights[column] / 902, wanted[column]));
}

void CMainDlg::ArmRefreshTimer(std::chrono::milliseconds interval) {
    refreshTimer_.start(static_cast<int>(std::min<std::int64_t>(interval.count(), 3600000)));
}

void CMainDlg::DisarmRefreshTimer() { refreshTimer_.stop(); }

void CMainDlg::ShowStatus(const std::string& text, bool offerLogin) {
    statusText_->setText(Q(text));
    statusText_->setToolTip(statusText_->text());
    statusLogin_->setVisible(offerLogin && openLogin_ != nullptr);
    status_->setVisible(!text.empty());
    LayOut();
}

void CMainDlg::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::Information, Q(model_.Caption()), Q(text), QMessageBox::Ok, this);
    box.button(QMessageBox::Ok)->setText(Q(services_.Text("OK")));
    box.setWindowModality(Qt::WindowModal);  // the tray and the other windows answer
    box.exec();
}

bool CMainDlg::Confirm(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::Warning, Q(caption), Q(text), QMessageBox::Ok | QMessageBox::Cancel, this);
    box.button(QMessageBox::Ok)->setText(Q(services_.Text("OK")));
    box.button(QMessageBox::Cancel)->setText(Q(services_.Text("Cancel")));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setWindowModality(Qt::WindowModal);  // the tray and the other windows answer
    return box.exec() == QMessageBox::Ok;
}

std::optional<std::string> CMainDlg::InputText(const TextInputRequest& request) {
    CDialogInputText dialog(this);
    dialog.caption = Q(request.caption);
    dialog.prompt = Q(request.prompt);
    dialog.okText = Q(request.okText);
    dialog.cancelText = Q(request.cancelText);
    dialog.resetText = Q(request.resetText);
    dialog.initialText = Q(request.initialText);
    if (dialog.exec() != CDialogInputText::kResultOk) return std::nullopt;
    return dialog.GetText().toStdString();
}

std::optional<std::vector<std::string>> CMainDlg::PickLocal(const PickerRequest& request) {
    CFolderFileSelectDialog picker(this, Q(request.title), Q(request.filter), !request.folderOnly);
    if (request.folderOnly) {
        picker.setFileMode(QFileDialog::Directory);
        picker.setOption(QFileDialog::ShowDirsOnly, true);
    }
    picker.SetTexts(Q(request.nameLabel), Q(request.okText));
    picker.SetRefusalText(Q(request.refusalText));
    picker.setDirectory(request.initialFolder.empty() ? QDir::homePath() : Q(request.initialFolder));
    if (picker.exec() != QDialog::Accepted) return std::nullopt;
    std::vector<std::string> paths = picker.SelectedPaths();
    // A download goes into a folder only.
    if (request.folderOnly && (paths.size() != 1 || !QFileInfo(Q(paths.front())).isDir())) paths.clear();
    return paths;
}

void CMainDlg::OpenTransferList() {
    if (openTransferList_) Post(openTransferList_);
}
