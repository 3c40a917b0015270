#pragma once
// The version dialog (`CVersionUpdateDlg`): shows the VersionUpdate model's states (the
// offer of a newer version, the latest-version notice, the download with its progress)
// and hands it the buttons and the download thread's messages. UI thread.
//
// Run() makes the version decision first and shows the dialog only when the model leaves
// it open; it returns the end code. Esc and the close box go to the model and never end
// with the success code 0: during a download they cancel it and the dialog ends when
// the download's result arrives. The download thread is joined before the dialog is
// destroyed (the model's destructor).
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "client/local/VersionUpdate.h"
#include "platform/msgloop/MessageLoop.h"

class CBitButtonNL;
class ClientDesktop;

class CVersionUpdateDlg final : public QDialog {
public:
    using Translate = std::function<std::string(const std::string&)>;

    // `loop` is the UI thread's message loop, which the download thread posts through.
    CVersionUpdateDlg(VersionUpdate::Options options, Translate translate, plat::MessageLoop& loop,
                      QWidget* parent = nullptr);
    ~CVersionUpdateDlg() override;

    // The decision, then the dialog when it stays open; the end code.
    int Run();
    // The decision with a version already read (tests and the gallery); the end code when
    // the dialog ends at once.
    std::optional<int> Prepare(const std::string& serverVersion);
    // The dialog after Prepare; the end code.
    int ShowModal() { return exec(); }

    VersionUpdate& Model() { return *model_; }
    std::string InstallerPath() const { return model_->InstallerPath(); }

    // Esc and the close box.
    void reject() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowState();
    void OnUpdate();
    void OnNotUpdate();
    void EndWith(std::optional<int> code);
    plat::MsgResult OnLoopMessage(plat::Message& message);

    Translate translate_;
    std::unique_ptr<VersionUpdate> model_;
    plat::MessageLoop& loop_;
    plat::WindowId window_ = plat::kNoWindow;
    QLabel* headline_;
    QLabel* status_;
    QProgressBar* progress_;
    QCheckBox* skip_;
    CBitButtonNL* notUpdate_;
    CBitButtonNL* update_;
};

// Runs the dialog (the decision first) over `parent`; the end code, and the installer's
// path after end code 0 (else empty).
int RunVersionDialog(QWidget* parent, const VersionUpdate::Options& options,
                     const CVersionUpdateDlg::Translate& translate, plat::MessageLoop& loop, std::string& installerPath);
// The settings dialog's "Check update": the dialog in manual mode, then its end code
// acted on through the desktop (a message; after a download, the installer's folder).
void RunManualVersionCheck(QWidget* parent, VersionUpdate::Options options, const CVersionUpdateDlg::Translate& translate,
                           plat::MessageLoop& loop, ClientDesktop& desktop);
