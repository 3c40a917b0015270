#pragma once
// The sync-details window (CStateDlg): a tab control in the VS2010 client style holding
// the running, finished and failed pages. The pages' widgets bind the page models of
// StatePageModels.h; the window only builds and lays out the tabs. Every control keeps its
// id as objectName. UI thread only; a message loop must run on it (the pages' feeds post
// to it).
#include <QAbstractTableModel>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

#include <functional>
#include <memory>

#include "sync/ui/StatePageModels.h"
#include "sync/ui/tabctrl/TabCtrlStyles.h"
#include "sync/ui/tabctrl/TabCtrlWindow.h"

class CLanguageIni;

// The rows of a page model as a Qt table.
class FeedTableModel final : public QAbstractTableModel, public PageView {
public:
    FeedTableModel(StatePageModel& page, QStringList headings, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void RowsInserted(int first, int count) override;
    void RowsRemoved(int first, int count) override;
    void RowChanged(int row) override;
    void RowsReset() override;
    void StatusChanged() override;
    std::function<void()> onStatus;

private:
    StatePageModel& page_;
    QStringList headings_;
};

// The running page (template 174).
class StateDoingPageWidget final : public QWidget {
public:
    StateDoingPageWidget(CLanguageIni& language, RunningPageModel::Environment environment, QWidget* parent = nullptr);
    ~StateDoingPageWidget() override;
    RunningPageModel& Model() { return model_; }
    QTableView* List() const { return list_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Refresh();
    RunningPageModel model_;
    FeedTableModel* table_;
    QLabel* icon_;
    QLabel* status_;
    QPushButton* button_;
    QTableView* list_;
};

// The finished (template 175) or failed (template 268) page.
class StateDonePageWidget final : public QWidget {
public:
    StateDonePageWidget(CLanguageIni& language, bool failed, QWidget* parent = nullptr);
    ~StateDonePageWidget() override;
    DonePageModel& Model() { return model_; }
    QTableView* List() const { return list_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Refresh();
    DonePageModel model_;
    FeedTableModel* table_;
    QLabel* icon_;
    QLabel* status_;
    QPushButton* button_;
    QTableView* list_;
};

class CStateDlg final : public QDialog, public TabCtrlNotify {
public:
    CStateDlg(CLanguageIni& language, RunningPageModel::Environment environment, QWidget* parent = nullptr);
    ~CStateDlg() override;

    StateDoingPageWidget& DoingPage() { return *doing_; }
    StateDonePageWidget& DonePage() { return *done_; }
    StateDonePageWidget& FailedPage() { return *failed_; }
    TabCtrlComplex& Tabs() { return tabs_; }
    TabCtrlWindow& TabWindow() { return *tabWindow_; }
    // The running page's pause button follows the pause flag.
    void UpdatePauseButton();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitTabs();
    TabCtrlComplex tabs_;
    TabCtrlWindow* tabWindow_;
    StateDoingPageWidget* doing_;
    StateDonePageWidget* done_;
    StateDonePageWidget* failed_;
};
