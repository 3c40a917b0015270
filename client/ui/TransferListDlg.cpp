#include "client/ui/TransferListDlg.h"

#include <QApplication>
#include <QHeaderView>
#include <QStyle>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTabBar>

#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientResources.h"
#include "client/ui/DialogLayout.h"
#include "client/ui/ListColumns.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

constexpr int kWidth = 902;
constexpr int kHeight = 560;

}  // namespace

// ---- tables -------------------------------------------------------------------------------------

TransferTableModel::TransferTableModel(TransferListModel& model, int list, QObject* parent)
    : QAbstractTableModel(parent), model_(model), list_(list) {}

int TransferTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : model_.RowCount(list_);
}

int TransferTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : model_.ColumnCount(list_);
}

QVariant TransferTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= model_.RowCount(list_)) return {};
    const TransferRow& row = model_.Rows(list_)[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return Q(model_.CellText(list_, index.row(), index.column()));
        case Qt::DecorationRole:
            if (index.column() == 0) return client_ui::RowImage(row.isFolder);
            if (list_ == TransferListModel::Failed && index.column() == TransferListModel::kReasonColumn)
                return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
            return {};
        case Qt::TextAlignmentRole:
            return QVariant::fromValue<Qt::Alignment>(Alignment(index.column()));
        case Qt::ForegroundRole:
            if (list_ == TransferListModel::Failed && index.column() == TransferListModel::kRetryColumn)
                return QColor(0, 0, 255);
            return {};
        case Qt::FontRole:
            if (list_ == TransferListModel::Failed && index.column() == TransferListModel::kRetryColumn) {
                QFont font;
                font.setUnderline(true);
                return font;
            }
            return {};
        case Qt::ToolTipRole: {
            if (list_ == TransferListModel::Failed && index.column() == TransferListModel::kReasonColumn)
                return Q(model_.CellText(list_, index.row(), index.column()));
            const std::string tip = model_.Tip(row.id);
            return tip.empty() ? QVariant() : QVariant(Q(tip));
        }
        default:
            return {};
    }
}

Qt::Alignment TransferTableModel::Alignment(int column) const {
    Qt::Alignment h = Qt::AlignRight;
    if (column == 0 || (list_ != TransferListModel::Running && column == 2) ||
        (list_ == TransferListModel::Failed && column == TransferListModel::kReasonColumn))
        h = Qt::AlignLeft;
    if (column == TransferListModel::kRetryColumn) h = Qt::AlignHCenter;
    return h | Qt::AlignVCenter;
}

QVariant TransferTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) return Q(model_.Heading(list_, section));
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue<Qt::Alignment>(Alignment(section));
    return {};
}

void TransferTableModel::Reset() {
    beginResetModel();
    endResetModel();
}

void TransferTableModel::Insert(int first, int count, const std::function<void()>& change) {
    beginInsertRows({}, first, first + count - 1);
    change();
    endInsertRows();
}

void TransferTableModel::Remove(int first, int count, const std::function<void()>& change) {
    beginRemoveRows({}, first, first + count - 1);
    change();
    endRemoveRows();
}

void TransferTableModel::RowChanged(int row) {
    if (row < 0 || row >= rowCount()) return;
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TransferTableModel::HeadingsChanged() { emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1); }

// ---- window -------------------------------------------------------------------------------------

CTransferListDlg::CTransferListDlg(ClientServices& services, QWidget* parent)
    : QDialog(parent), model_(services, *this) {
    setObjectName(QString::number(kTemplateId));
    setWindowIcon(client_ui::Icon(client_ui::kIconClient));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setFont(client_ui::ClientFont());
    setSizeGripEnabled(true);

    tabs_ = new QTabBar(this);
    tabs_->setObjectName(QString::number(kIdTabs));
    tabs_->setExpanding(false);
    tabs_->setDrawBase(true);
    for (int i = 0; i < 3; ++i) tabs_->addTab(QString());
    connect(tabs_, &QTabBar::currentChanged, this, [this](int tab) { SelectTab(tab); });

    band_ = new QWidget(this);
    band_->setObjectName(QStringLiteral("band"));
    band_->setAutoFillBackground(true);
    QPalette bandPalette = band_->palette();
    bandPalette.setColor(QPalette::Window, QColor(0xf5, 0xf8, 0xfb));
    band_->setPalette(bandPalette);

    counter_ = new QLabel(band_);
    counter_->setObjectName(QString::number(kIdCounter));
    counter_->setTextFormat(Qt::PlainText);
    refresh_ = new CBitButtonNL(band_);
    refresh_->setObjectName(QString::number(kIdRefresh));
    SkinButton(*refresh_, 200, 199, 202, 201, QString());
    allRetry_ = new CBitButtonNL(band_);
    allRetry_->setObjectName(QString::number(kIdAllRetry));
    SkinButton(*allRetry_, 200, 199, 202, 201, QString());
    for (CBitButtonNL* b : {refresh_, allRetry_}) {
        b->SetButtonFont(font(), false);
        b->setFocusPolicy(Qt::NoFocus);
    }
    connect(refresh_, &QAbstractButton::clicked, this, [this] { model_.Refresh(); });
    connect(allRetry_, &QAbstractButton::clicked, this, [this] { model_.RetryAll(); });

    const int ids[3] = {kIdRunning, kIdSucceeded, kIdFailed};
    for (int list = 0; list < 3; ++list) {
        tables_[list] = new TransferTableModel(model_, list, this);
        auto* view = new QTableView(this);
        view->setObjectName(QString::number(ids[list]));
        view->setModel(tables_[list]);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(list == TransferListModel::Failed ? QAbstractItemView::ExtendedSelection
                                                                  : QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setWordWrap(false);
        view->setTextElideMode(Qt::ElideMiddle);
        view->setIconSize(QSize(20, 20));
        view->verticalHeader()->hide();
        view->verticalHeader()->setDefaultSectionSize(26);
        view->horizontalHeader()->setStretchLastSection(false);
        view->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        view->horizontalHeader()->setSectionsClickable(false);
        lists_[list] = view;
    }
    QTableView* failed = lists_[TransferListModel::Failed];
    connect(failed, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) model_.FailedCellClicked(index.row(), index.column());
    });
    failed->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(failed, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { ShowFailedMenu(pos); });

    resize(kWidth, kHeight);
    setMinimumSize(640, 360);
    SelectTab(0);
    TitlesChanged();  // titled from the start; the first snapshot follows
    model_.Open();
}

CTransferListDlg::~CTransferListDlg() {
    model_.Close();
    // The lists and their tables read the model: they go before it.
    for (QTableView* view : lists_) delete view;
    for (TransferTableModel* table : tables_) delete table;
}

void CTransferListDlg::SelectTab(int tab) {
    if (tabs_->currentIndex() != tab) tabs_->setCurrentIndex(tab);  // comes back here
    for (int list = 0; list < 3; ++list) lists_[list]->setVisible(list == tab);
    allRetry_->setVisible(tab == TransferListModel::Failed);
    model_.SelectTab(tab);
}

QString CTransferListDlg::CounterText() const { return counter_->text(); }

void CTransferListDlg::LayOut() {
    const int w = width();
    const int h = height();
    const int tabHeight = tabs_->sizeHint().height();
    tabs_->setGeometry(0, 0, w, tabHeight);
    const int bandHeight = std::max(w * 54 / kWidth, refresh_->height() + 16);
    band_->setGeometry(0, tabHeight, w, bandHeight);
    refresh_->move(w - 20 - refresh_->width(), (bandHeight - refresh_->height()) / 2);
    allRetry_->move(refresh_->x() - 20 - allRetry_->width(), refresh_->y());
    const int counterHeight = std::max(fontMetrics().height() + 4, h * 20 / 601);
    counter_->setGeometry(20, (bandHeight - counterHeight) / 2, std::max(w * 300 / kWidth, allRetry_->x() - 40),
                          counterHeight);
    for (QTableView* view : lists_) view->setGeometry(0, tabHeight + bandHeight, w, std::max(0, h - tabHeight - bandHeight));
}

void CTransferListDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut();
}

void CTransferListDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTransferListDlg::ShowFailedMenu(const QPoint& pos) {
    QTableView* failed = lists_[TransferListModel::Failed];
    const QModelIndex index = failed->indexAt(pos);
    if (!index.isValid()) return;
    QMenu menu(this);
    QAction* remove = menu.addAction(Q(model_.ButtonText("Delete")));
    remove->setObjectName(QString::number(kIdMenuDelete));
    if (menu.exec(failed->viewport()->mapToGlobal(pos)) != remove) return;
    std::vector<int> rows;
    for (const QModelIndex& selected : failed->selectionModel()->selectedRows()) rows.push_back(selected.row());
    model_.DeleteFailed(rows);
}

// ---- TransferListView ---------------------------------------------------------------------------

void CTransferListDlg::Post(std::function<void()> work) {
    QMetaObject::invokeMethod(this, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

void CTransferListDlg::ListChanged(int list) { tables_[list]->Reset(); }

void CTransferListDlg::InsertRows(int list, int first, int count, const std::function<void()>& change) {
    tables_[list]->Insert(first, count, change);
}

void CTransferListDlg::RemoveRows(int list, int first, int count, const std::function<void()>& change) {
    tables_[list]->Remove(first, count, change);
}

void CTransferListDlg::RowChanged(int list, int row) { tables_[list]->RowChanged(row); }

void CTransferListDlg::CountersChanged() { counter_->setText(Q(model_.CounterText())); }

void CTransferListDlg::FitColumns() {
    // The widths of a 902-pixel window, never narrower than the heading and the widest
    // usual content in the language in force.
    const QFontMetrics metrics(lists_[0]->font());
    auto need = [&](std::initializer_list<std::string> texts) { return client_ui::ColumnWidthFor(metrics, texts); };
    auto text = [&](const char* key) { return model_.ButtonText(key); };
    for (int list = 0; list < 3; ++list) {
        const bool running = list == TransferListModel::Running;
        const int* weights = running ? TransferListModel::kRunningWeights : TransferListModel::kFinishedWeights;
        auto heading = [&](int column) { return model_.Heading(list, column); };
        std::vector<int> wanted = {0, need({heading(1), "1023.99 MB"})};
        wanted.push_back(running ? need({heading(2), "100.00%", text("Waitting")})
                                 : need({heading(2), "2024-12-31 23:59:59"}));
        wanted.push_back(need({heading(3), text("Upload"), text("Download")}));
        wanted.push_back(need({heading(4), text("Transfer"), text("Edit"), text("Preview")}));
        if (!running) wanted.push_back(need({heading(5), text("Success"), text("Fail"), text("Cancel")}));
        if (list == TransferListModel::Failed) {
            wanted.push_back(need({heading(6), text("Retry")}));
            // The reason may be long: the column holds its heading, its tip the whole text.
            wanted.push_back(need({heading(7)}) + 24);
        }
        for (int column = 1; column < model_.ColumnCount(list); ++column)
            lists_[list]->horizontalHeader()->resizeSection(
                column, std::max(kWidth * weights[column] / 902, wanted[static_cast<std::size_t>(column)]));
    }
}

void CTransferListDlg::TitlesChanged() {
    setWindowTitle(Q(model_.Caption()));
    for (int tab = 0; tab < 3; ++tab) tabs_->setTabText(tab, Q(model_.TabText(tab)));
    refresh_->setText(Q(model_.ButtonText("Refresh")));
    allRetry_->setText(Q(model_.ButtonText("All retry")));
    for (TransferTableModel* table : tables_) table->HeadingsChanged();
    FitColumns();
    CountersChanged();
    LayOut();
}
