#pragma once
// The tab control as a Qt widget: the host of a TabCtrl (its window, timers, capture,
// text sizes, the pages' widgets) and its double-buffered painting.
//
// VirtualWindow is the off-screen buffer a paint goes through: the control draws into an
// image of its client size, which is copied to the window when the buffer ends; with an
// empty client area it draws straight to the target. InstallTabCtrlHooks() connects the
// keyboard and focus hooks of TabCtrl.h to the application (once per process).
#include <QBasicTimer>
#include <QImage>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>

#include "sync/ui/tabctrl/TabCtrl.h"

class QPainter;

class VirtualWindow {
public:
    VirtualWindow(QPainter& target, QSize size);
    ~VirtualWindow();
    VirtualWindow(const VirtualWindow&) = delete;
    VirtualWindow& operator=(const VirtualWindow&) = delete;
    QPainter& Dc() { return buffered_ ? *own_ : target_; }
    bool Buffered() const { return buffered_; }

private:
    QPainter& target_;
    QImage image_;
    std::unique_ptr<QPainter> own_;
    bool buffered_ = false;
};

void InstallTabCtrlHooks();

class TabCtrlWindow : public QWidget, public TabCtrlHost {
public:
    // The control is bound to this window at once (TabCtrl::Create).
    TabCtrlWindow(TabCtrl& ctrl, QWidget* parent = nullptr);
    ~TabCtrlWindow() override;

    TabCtrl& Ctrl() { return ctrl_; }
    // Fonts of the other tabs and of the selected one (also given to the control).
    void SetFonts(const QFont& normal, const QFont& selected);
    // The control as painting draws it, into an image of the widget's size.
    QImage Render();

    // TabCtrlHost
    TabRect ClientRect() const override;
    TabSize TextExtent(const std::u16string& text, bool selectedFont) const override;
    bool IsWindowValid(TabWindow window) const override;
    bool IsWindowVisible(TabWindow window) const override;
    TabRect WindowRect(TabWindow window) const override;
    void MoveWindow(TabWindow window, const TabRect& rect) override;
    void ShowWindow(TabWindow window, bool show) override;
    bool HasFocus(TabWindow window) const override;
    void SetFocus(TabWindow window) override;
    void Invalidate() override { update(); }
    void RedrawNow() override { repaint(); }
    void SetCapture(bool capture) override;
    void SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    void PopToolTip() override;
    void ToScreen(int& x, int& y) const override;
    void CursorPos(int& x, int& y) const override;
    void ShowTabCursor() override { setCursor(Qt::PointingHandCursor); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool event(QEvent* event) override;

private:
    void PaintInto(QPainter& painter);
    void TakeColours();

    TabCtrl& ctrl_;
    QFont normal_, selected_;
    std::map<int, std::unique_ptr<QBasicTimer>> timers_;
    bool captured_ = false;
};
