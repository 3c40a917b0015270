#include "client/ui/DialogInputText.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>

#include "client/ui/BitButtonNL.h"
#include "client/ui/DialogLayout.h"

std::pair<int, int> SelectionBeforeLastDot(const QString& text) {
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    return {0, static_cast<int>(dot < 0 ? text.size() : dot)};
}

CDialogInputText::CDialogInputText(QWidget* parent) : QDialog(parent) {
    // It blocks only the window that asks, never the tray or the program's other windows.
    if (parent != nullptr) setWindowModality(Qt::WindowModal);
    setObjectName(QString::number(kTemplateId));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const client_ui::DialogUnits units(font());
    setFixedSize(units.Size(193, 86));
    prompt_ = new QLabel(this);
    client_ui::Place(prompt_, units, kIdPrompt, 9, 5, 175, 22);
    prompt_->setWordWrap(true);
    prompt_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    edit_ = new QLineEdit(this);
    client_ui::Place(edit_, units, kIdEdit, 9, 30, 175, 14);
    edit_->setMaxLength(kMaxText);
    ok_ = new CBitButtonNL(this);
    ok_->setObjectName(QString::number(kIdOk));
    cancel_ = new CBitButtonNL(this);
    cancel_->setObjectName(QString::number(kIdCancel));
    reset_ = new CBitButtonNL(this);
    reset_->setObjectName(QString::number(kIdReset));
    ok_->setDefault(false);
    connect(ok_, &QAbstractButton::clicked, this, [this] { OnOk(); });
    connect(cancel_, &QAbstractButton::clicked, this, [this] { reject(); });
    connect(reset_, &QAbstractButton::clicked, this, [this] { OnReset(); });
    connect(edit_, &QLineEdit::returnPressed, this, [this] { OnOk(); });
}

int CDialogInputText::exec() {
    resultCode_ = kResultCancel;
    QDialog::exec();
    return resultCode_;
}

void CDialogInputText::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (opened_) return;
    opened_ = true;
    SkinButton(*ok_, 209, 208, 211, 210, okText);
    SkinButton(*cancel_, 213, 212, 215, 214, cancelText);
    reset_->setText(resetText);
    reset_->hide();
    setWindowTitle(caption);
    prompt_->setText(prompt);
    // Both buttons on the dialog's lower band, as far apart as the template places them.
    const int y = height() - ok_->height() - 12;
    ok_->move(11, y);
    cancel_->move(width() - cancel_->width() - 11, y);
    OnReset();
}

void CDialogInputText::OnReset() {
    edit_->setText(initialText.left(kMaxText));
    edit_->setFocus();
    const auto [start, length] = SelectionBeforeLastDot(edit_->text());
    edit_->setSelection(start, length);
}

void CDialogInputText::OnOk() {
    resultCode_ = kResultOk;
    text_ = edit_->text().left(kMaxText);
    done(kResultOk);
}

void CDialogInputText::reject() {
    if (resultCode_ != kResultOk) resultCode_ = kResultCancel;
    done(resultCode_);
}

void CDialogInputText::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Clicking elsewhere ends the dialog with its result so far (cancelled unless OK).
    if (event->type() == QEvent::ActivationChange && opened_ && isVisible() && !isActiveWindow()) done(resultCode_);
}
