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

// What the three pages share (templates 174, 175 and 268, 439 × 215 dialog units): the
// status icon and line, the button, the list. Return and Escape do not close the window.
class StatePageWidget : public QWidget {
public:
    struct Layout {
        int page, status, button, list, icon;  // control ids
        int statusWidth;                         // dialog units
        QString statusTemplate;
        QStringList headings;
        std::vector<int> columnPercents;
    };
    QTableView* List() const { return list_; }

protected:
    StatePageWidget(StatePageModel& model, QWidget* parent);
    ~StatePageWidget() override;
    // Makes the controls and opens the page (the derived page's model exists by then).
    void Build(const Layout& layout);
    // Ends the page; the derived page calls it first in its destructor.
    void Detach();
    virtual std::u16string ButtonText() const = 0;
    virtual void OnButton() = 0;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Refresh();
    StatePageModel& page_;
    std::vector<int> columnPercents_;
    FeedTableModel* table_ = nullptr;
    QLabel* icon_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* button_ = nullptr;
    QTableView* list_ = nullptr;
};

// The running page (template 174).
class StateDoingPageWidget final : public StatePageWidget {
public:
    StateDoingPageWidget(CLanguageIni& language, RunningPageModel::Environment environment, QWidget* parent = nullptr);
    ~StateDoingPageWidget() override;
    RunningPageModel& Model() { return model_; }

private:
    std::u16string ButtonText() const override { return model_.ButtonText(); }
    void OnButton() override { model_.ClickPause(); }
    RunningPageModel model_;
};

// The finished (template 175) or failed (template 268) page.
class StateDonePageWidget final : public StatePageWidget {
public:
    StateDonePageWidget(CLanguageIni& language, bool failed, QWidget* parent = nullptr);
    ~StateDonePageWidget() override;
    DonePageModel& Model() { return model_; }

private:
    std::u16string ButtonText() const override { return model_.ButtonText(); }
    void OnButton() override { model_.ClickClear(); }
    DonePageModel model_;
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
