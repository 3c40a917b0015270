#include "sync/ui/StateDlg.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>

#include "sync/ui/LanguageIni.h"
#include "sync/ui/Resources.h"

using orvane_ui::DialogUnits;
using orvane_ui::IconById;
using orvane_ui::PixmapById;
using orvane_ui::Place;
using orvane_ui::TemplateFont;
using orvane_ui::Tr;

namespace {

// The list of a page: report view, full-row selection, grid lines, the window's images.
QTableView* MakeList(QWidget* parent, FeedTableModel* model) {
    auto* list = new QTableView(parent);
    list->setModel(model);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setShowGrid(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setHighlightSections(false);
    list->horizontalHeader()->setStretchLastSection(true);
    list->setIconSize(QSize(16, 16));
    list->setWordWrap(false);
    list->setTextElideMode(Qt::ElideMiddle);
    list->setMouseTracking(true);
    return list;
}

}  // namespace

// ---------------------------------------------------------------- table model

FeedTableModel::FeedTableModel(StatePageModel& page, QStringList headings, QObject* parent)
    : QAbstractTableModel(parent), page_(page), headings_(std::move(headings)) {
    page_.SetView(this);
}

int FeedTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : page_.RowCount(); }
int FeedTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headings_.size());
}

QVariant FeedTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= page_.RowCount()) return {};
    const PageRow& row = page_.Row(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
            case 0: return QString::fromStdU16String(row.path);
            case 1: return QString::fromStdU16String(row.size);
            case 2: return QString::fromStdU16String(row.direction);
            case 3: return QString::fromStdU16String(row.last);
            case 4: return QString::fromStdU16String(row.status);
            case 5: return QString::fromStdU16String(row.reason);
            default: return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == 0) {
        static const QIcon transfer = IconById(131);
        static const QIcon deletion = IconById(132);
        return row.deletion ? deletion : transfer;
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(index.column() == 0 || index.column() == 5
                                       ? Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter)
                                       : Qt::Alignment(Qt::AlignCenter));
    }
    return {};
}

QVariant FeedTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= headings_.size()) return {};
    if (role == Qt::DisplayRole) return headings_[section];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(section == 0 ? Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter)
                                                : Qt::Alignment(Qt::AlignCenter));
    return {};
}

void FeedTableModel::RowsInserted(int first, int count) {
    beginInsertRows({}, first, first + count - 1);
    endInsertRows();
}
void FeedTableModel::RowsRemoved(int first, int count) {
    beginRemoveRows({}, first, first + count - 1);
    endRemoveRows();
}
void FeedTableModel::RowChanged(int row) { emit dataChanged(index(row, 0), index(row, columnCount() - 1)); }
void FeedTableModel::RowsReset() {
    beginResetModel();
    endResetModel();
}
void FeedTableModel::StatusChanged() {
    if (onStatus) onStatus();
}

// ---------------------------------------------------------------- pages

StatePageWidget::StatePageWidget(StatePageModel& model, QWidget* parent) : QWidget(parent), page_(model) {
    setFont(TemplateFont(QStringLiteral("MS Shell Dlg"), 8));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
}

StatePageWidget::~StatePageWidget() = default;

void StatePageWidget::Detach() {
    // Called by the derived page while its model still exists: nothing reads the model
    // afterwards.
    page_.Close();
    page_.SetView(nullptr);
    delete list_;
    list_ = nullptr;
    delete table_;
    table_ = nullptr;
}

void StatePageWidget::Build(const Layout& layout) {
    setObjectName(QString::number(layout.page));
    columnPercents_ = layout.columnPercents;
    const DialogUnits du(font());
    resize(du.Size(439, 215));
    table_ = new FeedTableModel(page_, layout.headings, this);
    status_ = new QLabel(layout.statusTemplate, this);
    Place(status_, du, layout.status, 68, 13, layout.statusWidth, 8);
    button_ = new QPushButton(QString::fromStdU16String(ButtonText()), this);
    Place(button_, du, layout.button, 357, 10, 63, 14);
    button_->setAutoDefault(false);
    list_ = MakeList(this, table_);
    Place(list_, du, layout.list, 0, 31, 439, 184);
    icon_ = new QLabel(this);
    Place(icon_, du, layout.icon, 31, 7, 20, 18);
    icon_->setAlignment(Qt::AlignCenter);
    table_->onStatus = [this] { Refresh(); };
    connect(button_, &QPushButton::clicked, this, [this] { OnButton(); });
    page_.Open();
    Refresh();
}

void StatePageWidget::Refresh() {
    status_->setText(QString::fromStdU16String(page_.StatusText()));
    button_->setText(QString::fromStdU16String(ButtonText()));
    icon_->setPixmap(PixmapById(page_.StatusIcon(), QSize(20, 20)));
}

void StatePageWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (list_ == nullptr || button_ == nullptr) return;
    // The button keeps its distance to the right edge; the list fills the rest.
    const DialogUnits du(font());
    button_->move(width() - du.X(439 - 357), button_->y());
    list_->setGeometry(0, du.Y(31), width(), std::max(0, height() - du.Y(31)));
    const int w = list_->width();
    const int bar = list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (std::size_t column = 0; column < columnPercents_.size(); ++column) {
        int width = w * columnPercents_[column] / 100;
        if (column == 0) width -= bar;
        list_->setColumnWidth(static_cast<int>(column), std::max(20, width));
    }
}

void StatePageWidget::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape)
        return event->accept();
    QWidget::keyPressEvent(event);
}

StateDoingPageWidget::StateDoingPageWidget(CLanguageIni& language, RunningPageModel::Environment environment,
                                           QWidget* parent)
    : StatePageWidget(model_, parent), model_(language, std::move(environment)) {
    Build({174, 1238, 1239, 1240, 1306, 148, Tr(language, u"正在进行同步"),
           {Tr(language, u"文件名"), Tr(language, u"大小"), Tr(language, u"同步方向"), Tr(language, u"进度")},
           {50, 16, 17, 12}});
}

StateDoingPageWidget::~StateDoingPageWidget() { Detach(); }
StateDonePageWidget::~StateDonePageWidget() { Detach(); }

StateDonePageWidget::StateDonePageWidget(CLanguageIni& language, bool failed, QWidget* parent)
    : StatePageWidget(model_, parent), model_(language, failed) {
    QStringList headings{Tr(language, u"文件名"), Tr(language, u"大小"), Tr(language, u"同步方向"),
                         Tr(language, u"时间"), Tr(language, u"状态")};
    if (failed) {
        // The failed page says why each item failed, in a last column that takes the rest.
        headings.append(Tr(language, u"原因"));
        Build({268, 1318, 1320, 1321, 1319, 117, QStringLiteral("最近有6条同步记录"), headings, {28, 9, 12, 17, 7, 27}});
    } else {
        Build({175, 1271, 1272, 1273, 1312, 117, QStringLiteral("最近有6条同步记录"), headings, {40, 12, 15, 20, 8}});
    }
}

// ---------------------------------------------------------------- the window

CStateDlg::CStateDlg(CLanguageIni& language, RunningPageModel::Environment environment, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("173"));
    setFont(TemplateFont(QStringLiteral("微软雅黑"), 9));
    const DialogUnits du(font());
    resize(du.Size(374, 178));
    setWindowIcon(IconById(128));
    setWindowTitle(Tr(language, u"云盘同步详情"));

    tabWindow_ = new TabCtrlWindow(tabs_, this);
    tabWindow_->setObjectName(QStringLiteral("3001"));
    doing_ = new StateDoingPageWidget(language, std::move(environment), tabWindow_);
    doing_->setObjectName(QStringLiteral("3010"));
    done_ = new StateDonePageWidget(language, false, tabWindow_);
    done_->setObjectName(QStringLiteral("3011"));
    failed_ = new StateDonePageWidget(language, true, tabWindow_);
    failed_->setObjectName(QStringLiteral("3012"));

    // The tab control takes the place of the (hidden) placeholder 1311: the whole window.
    tabWindow_->setGeometry(rect());
    tabs_.SetDragging(true);
    tabs_.SetMinTextHeight(30);
    const struct {
        QWidget* page;
        std::u16string_view key;
        int image;
    } pages[] = {{doing_, u"正在同步", 0}, {done_, u"同步完成", 1}, {failed_, u"同步失败", 2}};
    for (const auto& p : pages) {
        bool present = false;
        for (HTAB tab : tabs_.Items()) present = present || tab->window == p.page;
        if (!present) tabs_.AddItem(p.page, language.GetString(p.key), p.image);
    }
    tabWindow_->SetFonts(TemplateFont(QStringLiteral("微软雅黑"), 8), TemplateFont(QStringLiteral("黑体"), 11));
    tabs_.SetEqualTabsWidth(true);
    tabs_.SetNotifyManager(this);
    tabs_.InstallStyle(&tabs_.TabCtrlStyle_VS2010_client_);
    tabs_.SetBehavior(TabCtrl::BehaviorScroll);
    FitTabs();
    tabWindow_->update();
}

void CStateDlg::FitTabs() {
    // Three equal tabs across the window: the text part leaves room for the style's
    // padding, so the tabs fit the strip and no text is cut for want of a few pixels.
    const TabRect padding = tabs_.GetRecalcManager()->GetTabPadding(&tabs_, tabs_.GetDefaultRecalc());
    tabs_.SetMinTextWidth(std::max(0, (width() - 1) / 3 - padding.l - padding.r));
    tabs_.Update();
}

CStateDlg::~CStateDlg() {
    tabs_.SetNotifyManager(nullptr);
    // The tab window (and the pages in it) goes before the control it shows.
    delete tabWindow_;
}

void CStateDlg::UpdatePauseButton() { doing_->Model().UpdatePauseButton(); }

void CStateDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    tabWindow_->setGeometry(rect());
    FitTabs();
}
