#pragma once
// The transfer list window (CTransferListDlg): three tabs (transferring, succeeded,
// failed) over one list each, a band with the counters, Refresh and All retry, and a
// context menu with Delete on the failed list. The window binds a TransferListModel,
// which decides everything. Every control keeps its id as objectName.
//
// UI thread only. The model's bus slots reach the window through Post, a queued call that
// Qt drops when the window is gone.
#include <QAbstractTableModel>
#include <QDialog>
#include <QTableView>

#include <functional>

#include "client/ui/ClientServices.h"
#include "client/ui/TransferListModel.h"

class CBitButtonNL;
class QLabel;
class QTabBar;

// One list of the transfer list model as a Qt table.
class TransferTableModel final : public QAbstractTableModel {
public:
    TransferTableModel(TransferListModel& model, int list, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void Reset();
    // Rows [first, first + count) come or go through `change`, between Qt's notices.
    void Insert(int first, int count, const std::function<void()>& change);
    void Remove(int first, int count, const std::function<void()>& change);
    void RowChanged(int row);
    void HeadingsChanged();
    // Of a column's cells and heading.
    Qt::Alignment Alignment(int column) const;

private:
    TransferListModel& model_;
    int list_;
};

class CTransferListDlg final : public QDialog, public TransferListView {
public:
    static constexpr int kTemplateId = 131;
    enum ControlId : int {
        kIdTabs = 1036, kIdRunning = 1039, kIdSucceeded = 1066, kIdFailed = 1067,
        kIdRefresh = 1041, kIdAllRetry = 1042, kIdCounter = 1040, kIdMenuDelete = 32805,
    };

    explicit CTransferListDlg(ClientServices& services, QWidget* parent = nullptr);
    ~CTransferListDlg() override;

    TransferListModel& Model() { return model_; }
    QTableView& List(int list) { return *lists_[list]; }
    QTabBar& Tabs() { return *tabs_; }
    QString CounterText() const;
    CBitButtonNL* RetryAllButton() const { return allRetry_; }
    void SelectTab(int tab);

    // TransferListView
    void Post(std::function<void()> work) override;
    void ListChanged(int list) override;
    void InsertRows(int list, int first, int count, const std::function<void()>& change) override;
    void RemoveRows(int list, int first, int count, const std::function<void()>& change) override;
    void RowChanged(int list, int row) override;
    void CountersChanged() override;
    void TitlesChanged() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void LayOut();
    void FitColumns();
    void ShowFailedMenu(const QPoint& pos);

    TransferListModel model_;
    QTabBar* tabs_ = nullptr;
    QTableView* lists_[3] = {nullptr, nullptr, nullptr};
    TransferTableModel* tables_[3] = {nullptr, nullptr, nullptr};
    CBitButtonNL* refresh_ = nullptr;
    CBitButtonNL* allRetry_ = nullptr;
    QLabel* counter_ = nullptr;
    QWidget* band_ = nullptr;
};
