#pragma once
// The one-line text input of the cloud browser (new folder, rename). The caller fills the
// caption, prompt, button texts and initial text, runs it modally and reads GetText() when
// the result is 1 (OK); Cancel, Esc, the close box and clicking elsewhere (the dialog
// losing activation) end it with 2. The initial text is selected up to, not including,
// its last "." so that a file's extension stays as it is while the name is typed over.
#include <QDialog>
#include <QString>

#include <utility>

class CBitButtonNL;
class QLabel;
class QLineEdit;

// The part of `text` selected when the dialog opens or is reset: from 0, up to the last
// "." (all of it when there is none). Start and length in UTF-16 units.
std::pair<int, int> SelectionBeforeLastDot(const QString& text);

class CDialogInputText : public QDialog {
public:
    static constexpr int kTemplateId = 142;
    static constexpr int kIdPrompt = 1034;
    static constexpr int kIdEdit = 1033;
    static constexpr int kIdOk = 1;
    static constexpr int kIdCancel = 2;
    static constexpr int kIdReset = 1018;
    static constexpr int kMaxText = 200;
    static constexpr int kResultOk = 1;
    static constexpr int kResultCancel = 2;

    explicit CDialogInputText(QWidget* parent = nullptr);

    // Filled by the caller before the dialog runs.
    QString caption;
    QString prompt;
    QString okText;
    QString cancelText;
    QString resetText;
    QString initialText;

    // Runs the dialog; 1 after OK, 2 otherwise.
    int exec() override;
    int ResultCode() const { return resultCode_; }
    // The text taken at OK (at most 200 characters).
    QString GetText() const { return text_; }

    // The initial text back in the edit, selected as on opening (the Reset button).
    void OnReset();
    void OnOk();
    // Cancel, Esc and the close box: result 2 unless OK was pressed.
    void reject() override;
    QLineEdit* Edit() const { return edit_; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QLabel* prompt_;
    QLineEdit* edit_;
    CBitButtonNL* ok_;
    CBitButtonNL* cancel_;
    CBitButtonNL* reset_;
    QString text_;
    int resultCode_ = kResultCancel;
    bool opened_ = false;
};
