#pragma once
// The about box of the tray's About command: the banner, three lines (the platform's
// name, the version, the copyright) drawn on white, and an OK button. The lines are
// plain data (AboutLines) so they can be checked without the window.
#include <QDialog>
#include <QImage>
#include <QString>

#include <string>
#include <vector>

class CBitButtonNL;
class UiTexts;

struct AboutLine {
    QString text;
    unsigned rgb = 0;  // 0xRRGGBB
};
// The caption and the three lines for the program version `version` ("1.0.0.0"; empty
// when unknown).
QString AboutCaption(const UiTexts& texts);
// The machine this build runs on, as the version line names it ("x64" on a 64-bit PC).
std::string BuildMachine();
std::vector<AboutLine> AboutLines(const UiTexts& texts, const std::string& version);

class CAboutDlg : public QDialog {
public:
    static constexpr int kTemplateId = 100;
    static constexpr int kIdOk = 1;

    CAboutDlg(const UiTexts& texts, std::string version, QWidget* parent = nullptr);
    // The banner and the lines as drawn (the off-screen picture).
    const QImage& Picture() const { return picture_; }
    CBitButtonNL* OkButton() const { return ok_; }
    // Runs without blocking the tray (RunDialog).
    int exec() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    CBitButtonNL* ok_;
};
