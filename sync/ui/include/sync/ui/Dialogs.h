#pragma once
// The sync program's small windows: the version box (CBanbenInfo), the message and
// confirmation box (CDeleteUserInfo), the update notice (CUpdateDlg) and the cloud-drive
// folder dialog (CSetCloudPathDlg). Every control keeps its id as objectName and its place
// in dialog units; every text goes through the language file. UI thread only.
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <string>

class CLanguageIni;

// A dialog with a bitmap resource stretched over its client area.
class BitmapDialog : public QDialog {
public:
    BitmapDialog(int bitmapId, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int bitmapId_;
};

// The version box: the program's version ("%d.%d.%d.%d"; empty when it has none).
class CBanbenInfo final : public BitmapDialog {
public:
    CBanbenInfo(CLanguageIni& language, const std::string& version, QWidget* parent = nullptr);
    QString VersionText() const;

private:
    QLabel* version_;
};

// The message box (mode 1: one button) or confirmation box (any other mode: OK and
// Cancel). exec() gives 1 for OK, 2 for Cancel or the close box.
class CDeleteUserInfo final : public BitmapDialog {
public:
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;
    CDeleteUserInfo(CLanguageIni& language, const std::u16string& caption, const std::u16string& text, int mode,
                    QWidget* parent = nullptr);
    int exec() override;
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

private:
    QPushButton* ok_;
    QPushButton* cancel_;
};

// The two phases of the update notice: checking (only the checking line shows) for
// kCheckingMs, then the fixed result texts with both buttons.
class UpdateNoticePhases {
public:
    static constexpr int kCheckingMs = 3000;
    static constexpr int kCheckingLine = 1175;
    bool ResultShown() const { return result_; }
    void ShowResult() { result_ = true; }
    // Whether the control of that id is visible in the current phase.
    bool Visible(int id) const { return result_ ? id != kCheckingLine : id == kCheckingLine; }

private:
    bool result_ = false;
};

class CUpdateDlg final : public QDialog {
public:
    explicit CUpdateDlg(CLanguageIni& language, QWidget* parent = nullptr);
    const UpdateNoticePhases& Phases() const { return phases_; }
    // The end of the checking phase (the timer's tick).
    void ShowPhase(bool result);
    // "立即升级": the dialog stays open.
    void accept() override {}

private:
    UpdateNoticePhases phases_;
    QTimer timer_;
};

// What the folder dialog shows and does; the caller adapts its folder choice to it.
class CloudPathDialogModel {
public:
    virtual ~CloudPathDialogModel() = default;
    virtual std::u16string PromptKey() const = 0;
    virtual std::u16string Folder() const = 0;
    // The browse button: runs the folder browser and the checks (their boxes included);
    // the dialog shows the folder afterwards.
    virtual void Browse(QWidget* dialog) = 0;
    // Cancel or the close box: the folder becomes the proposal again.
    virtual void Cancel() = 0;
};

class CSetCloudPathDlg final : public QDialog {
public:
    CSetCloudPathDlg(CLanguageIni& language, CloudPathDialogModel& model, QWidget* parent = nullptr);
    QString ShownFolder() const { return folder_->text(); }
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CloudPathDialogModel& model_;
    QLineEdit* folder_;
};
