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

#include <functional>
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

// What the update notice shows. It never claims an update it did not read: with an update
// site configured it checks that site's download page (the one the client program checks)
// and shows the version found there against the program's own; without a site it says
// that no check was made. Plain logic, any thread that owns it.
class UpdateNoticeModel {
public:
    enum class State { Checking, NoSite, Failed, UpToDate, Newer };
    static constexpr int kCheckingLine = 1175;

    // `ownVersion` as "1.2.3.4"; `site` empty when none is configured.
    UpdateNoticeModel(std::string ownVersion, std::string site);
    State Current() const { return state_; }
    // The site's answer: the version its page names, empty when the check failed. Compared
    // as the client compares: the own version's first five characters, ordinally.
    void TakeVersion(const std::string& serverVersion);
    const std::string& OwnVersion() const { return own_; }
    const std::string& Site() const { return site_; }
    // The version found, blanks around it dropped.
    const std::string& ServerVersion() const { return server_; }
    // The download page (what "立即升级" opens).
    std::string PageAddress() const;
    // The headline, the version line and the explanation, translated.
    std::u16string Headline(const CLanguageIni& language) const;
    std::u16string VersionLine(const CLanguageIni& language) const;
    std::u16string Details(const CLanguageIni& language) const;
    // Whether the control of that id shows now (the checking line only while checking; the
    // update button and the version line only for a newer version).
    bool Visible(int id) const;

private:
    std::string own_, site_, server_;
    State state_;
};

// How the notice checks: `fetch` runs on a thread of its own and returns the version the
// site's page names (empty on any failure); `openPage` opens an address in the browser.
struct UpdateCheck {
    std::string ownVersion;
    std::string site;
    std::function<std::string(const std::string& site)> fetch;
    std::function<void(const std::string& address)> openPage;
};

class CUpdateDlg final : public QDialog {
public:
    CUpdateDlg(CLanguageIni& language, UpdateCheck check, QWidget* parent = nullptr);
    const UpdateNoticeModel& Model() const { return model_; }
    // The site's answer (the check's thread hands it over through the UI thread's queue).
    void TakeVersion(const std::string& serverVersion);
    // "立即升级": opens the download page; the notice stays open.
    void accept() override;

private:
    void Show();
    CLanguageIni& language_;
    UpdateNoticeModel model_;
    std::function<void(const std::string&)> openPage_;
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
    void ShowFolder();
    CloudPathDialogModel& model_;
    QLineEdit* folder_;
};
