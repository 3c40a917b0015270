#pragma once
// The cloud browser window (CMainDlg): two bands of bitmap buttons above a list of the
// current cloud folder with check boxes, a path line, and dropping or pasting local files
// to upload them. The window binds a CloudBrowserModel, which decides everything; the
// window shows it and asks the user (pickers, input dialog, confirmations, messages).
// Every control keeps its id as objectName.
//
// UI thread only. The model's bus slots reach the window through Post, a queued call that
// Qt drops when the window is gone. Return and Enter do not close the window; Esc does.
#include <QAbstractTableModel>
#include <QDialog>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientServices.h"
#include "client/ui/CloudBrowserModel.h"

class QLabel;
class QPushButton;

// The rows of the browser model as a Qt table: check boxes in column 0 follow the model.
class BrowserTableModel final : public QAbstractTableModel {
public:
    explicit BrowserTableModel(CloudBrowserModel& model, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void Reset();
    void Appended(int first, int count);
    void RowChanged(int row, int firstColumn, int lastColumn);
    void HeadingsChanged();

private:
    CloudBrowserModel& model_;
};

// The header of the list: a check box in column 0 that stands for every row checked.
class CheckHeader final : public QHeaderView {
public:
    explicit CheckHeader(QWidget* parent);
    void SetChecked(bool checked);
    bool Checked() const { return checked_; }
    std::function<void()> onCheckClicked;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect BoxRect(const QRect& section) const;
    bool checked_ = false;
};

// The list: a click on a row's check box toggles that row's selection alone (the checks
// follow the selection), so checking one row never unchecks the others.
class BrowserListView final : public QTableView {
public:
    explicit BrowserListView(QWidget* parent) : QTableView(parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool OnCheckBox(const QPoint& pos) const;
    bool swallowRelease_ = false;
};

// A command button of the browser: its text starts 36 pixels from its left edge (after
// the picture), or it shows only its picture.
class BrowserButton final : public CBitButtonNL {
public:
    BrowserButton(QWidget* parent, int id, bool showText);

protected:
    void DrawText(QPainter& painter) override;
};

class CMainDlg final : public QDialog, public CloudBrowserView {
public:
    static constexpr int kTemplateId = 129;
    enum ControlId : int {
        kIdList = 1019, kIdPath = 1032, kIdNewFolder = 1027, kIdUpload = 1026, kIdDownload = 1028,
        kIdDelete = 1029, kIdRestore = 1033, kIdRename = 1031, kIdEdit = 1030, kIdTransferList = 1042,
        kIdEmptyBin = 1034, kIdUpFolder = 1025, kIdRoot = 1018, kIdRefresh = 1035,
    };

    // `openTransferList` opens (or raises) the transfer list window; it is called after
    // the handler that asks for it has returned. `openLogin` (when set) leads to the
    // login dialog: the status line offers it when the server session is gone.
    CMainDlg(ClientServices& services, std::function<void()> openTransferList, QWidget* parent = nullptr,
             std::function<void()> openLogin = {});
    ~CMainDlg() override;

    CloudBrowserModel& Model() { return model_; }
    BrowserTableModel& Table() { return *table_; }
    QTableView& List() { return *list_; }
    CBitButtonNL* Button(int id) const;
    QString PathLabelText() const;
    // The status line: its text ("" when hidden) and its login button.
    QString StatusText() const;
    QPushButton* StatusLoginButton() const { return statusLogin_; }
    bool HeaderChecked() const { return header_->Checked(); }
    // The local files of a drop or of the clipboard: their paths, or none.
    static std::vector<std::string> LocalPaths(const class QMimeData* mime);

    // CloudBrowserView
    void Post(std::function<void()> work) override;
    void RowsReset() override;
    void RowsAppended(int first, int count) override;
    void RowChecksChanged() override;
    void StatusChanged(int row) override;
    void ButtonsChanged() override;
    void PathChanged() override;
    void TitlesChanged() override;
    void ArmRefreshTimer(std::chrono::milliseconds interval) override;
    void DisarmRefreshTimer() override;
    void ShowStatus(const std::string& text, bool offerLogin) override;
    void ShowMessage(const std::string& text) override;
    bool Confirm(const std::string& caption, const std::string& text) override;
    std::optional<std::string> InputText(const TextInputRequest& request) override;
    std::optional<std::vector<std::string>> PickLocal(const PickerRequest& request) override;
    void OpenTransferList() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    BrowserButton* MakeButton(int id, bool showText, const char* key, std::function<void()> action);
    void SetButtonBitmaps(BrowserButton* button, int id);
    void LayOut();
    void FitColumns();
    void SyncSelectionToChecks();
    void OnSelectionChanged(const class QItemSelection& selected, const class QItemSelection& deselected);
    // Ctrl+V: uploads the files on the clipboard. True when the key was that.
    bool HandleKey(QKeyEvent* event);

    ClientServices& services_;
    std::function<void()> openTransferList_;
    std::function<void()> openLogin_;
    CloudBrowserModel model_;
    BrowserTableModel* table_ = nullptr;
    BrowserListView* list_ = nullptr;
    CheckHeader* header_ = nullptr;
    QLabel* path_ = nullptr;
    QWidget* status_ = nullptr;  // the status line: icon, text and login button
    QLabel* statusText_ = nullptr;
    QPushButton* statusLogin_ = nullptr;
    std::map<int, BrowserButton*> buttons_;
    std::map<int, const char*> captionKeys_;
    QTimer refreshTimer_;
    int topBand_ = 40;
    int secondBand_ = 36;
    int initialWidth_ = 902;
    bool syncingSelection_ = false;
    bool editShowsPreview_ = false;
};
