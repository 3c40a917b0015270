#include "sync/ui/tabctrl/TabCtrlWindow.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QToolTip>

#include "sync/ui/tabctrl/TabDC.h"

// ---------------------------------------------------------------- double buffer

VirtualWindow::VirtualWindow(QPainter& target, QSize size) : target_(target) {
    if (size.isEmpty()) return;  // nothing to buffer: drawing goes straight to the target
    image_ = QImage(size, QImage::Format_ARGB32_Premultiplied);
    if (image_.isNull()) return;
    image_.fill(Qt::transparent);
    own_ = std::make_unique<QPainter>(&image_);
    own_->setFont(target.font());
    buffered_ = true;
}

VirtualWindow::~VirtualWindow() {
    if (!buffered_) return;
    own_->end();
    target_.drawImage(QPoint(0, 0), image_);
}

// ---------------------------------------------------------------- hooks

namespace {

class HookFilter final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
            auto* key = static_cast<QKeyEvent*>(event);
            // Each key press reaches the filter once per widget it travels through; only
            // the first delivery counts.
            if (key->spontaneous() && lastKey_ != key) {
                lastKey_ = key;
                KeyboardHook::KeyDown(key->key() == Qt::Key_Escape ? 27 : key->key(),
                                      key->isAutoRepeat() ? 0x40000000u : 0u);
            }
        }
        return false;
    }

private:
    const QKeyEvent* lastKey_ = nullptr;
};

bool Inside(TabWindow target, TabWindow window) {
    auto* t = static_cast<QWidget*>(target);
    auto* w = static_cast<QWidget*>(window);
    return t != nullptr && w != nullptr && (t == w || w->isAncestorOf(t));
}

}  // namespace

void InstallTabCtrlHooks() {
    static bool installed = false;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (installed || app == nullptr) return;
    installed = true;
    auto* filter = new HookFilter;
    filter->setParent(app);  // ends with the application
    app->installEventFilter(filter);
    QObject::connect(app, &QApplication::focusChanged, [](QWidget* old, QWidget* now) {
        if (old) ActivityHook::FocusChanged(false, old, &Inside);
        if (now) ActivityHook::FocusChanged(true, now, &Inside);
    });
}

// ---------------------------------------------------------------- the window

namespace {
TabColor FromQColor(const QColor& c) { return Rgb(c.red(), c.green(), c.blue()); }
QWidget* AsWidget(TabWindow window) { return static_cast<QWidget*>(window); }
}  // namespace

TabCtrlWindow::TabCtrlWindow(TabCtrl& ctrl, QWidget* parent) : QWidget(parent), ctrl_(ctrl) {
    InstallTabCtrlHooks();
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    normal_ = font();
    selected_ = font();
    ctrl_.SetOwnWindow(this);
    ctrl_.Create(this);
}

TabCtrlWindow::~TabCtrlWindow() { ctrl_.OnDestroy(); }

void TabCtrlWindow::SetFonts(const QFont& normal, const QFont& selected) {
    normal_ = normal;
    selected_ = selected;
    ctrl_.SetFontNormal(TabFont{normal.family().toStdU16String(), static_cast<int>(normal.pointSizeF() * 10), normal.bold()});
    ctrl_.SetFontSelected(
        TabFont{selected.family().toStdU16String(), static_cast<int>(selected.pointSizeF() * 10), selected.bold()});
}

TabRect TabCtrlWindow::ClientRect() const { return {0, 0, width(), height()}; }

TabSize TabCtrlWindow::TextExtent(const std::u16string& text, bool selectedFont) const {
    const QFontMetrics metrics(selectedFont ? selected_ : normal_);
    return {metrics.horizontalAdvance(QString::fromStdU16String(text)), metrics.height()};
}

bool TabCtrlWindow::IsWindowValid(TabWindow window) const {
    QWidget* w = AsWidget(window);
    return w != nullptr && w->parentWidget() == this;
}

bool TabCtrlWindow::IsWindowVisible(TabWindow window) const { return AsWidget(window)->isVisible(); }

TabRect TabCtrlWindow::WindowRect(TabWindow window) const {
    const QRect g = AsWidget(window)->geometry();
    return {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()};
}

void TabCtrlWindow::MoveWindow(TabWindow window, const TabRect& r) {
    AsWidget(window)->setGeometry(r.l, r.t, std::max(0, r.Width()), std::max(0, r.Height()));
}

void TabCtrlWindow::ShowWindow(TabWindow window, bool show) { AsWidget(window)->setVisible(show); }

bool TabCtrlWindow::HasFocus(TabWindow window) const {
    QWidget* focus = QApplication::focusWidget();
    return focus != nullptr && (focus == AsWidget(window) || AsWidget(window)->isAncestorOf(focus));
}

void TabCtrlWindow::SetFocus(TabWindow window) { AsWidget(window)->setFocus(Qt::OtherFocusReason); }

void TabCtrlWindow::SetCapture(bool capture) {
    // Qt grabs the mouse for the pressed widget by itself; the flag only tells a capture
    // that ends through another window apart.
    captured_ = capture;
}

void TabCtrlWindow::SetTimer(int id, int periodMs) {
    auto& timer = timers_[id];
    if (!timer) timer = std::make_unique<QBasicTimer>();
    timer->start(periodMs, this);
}

void TabCtrlWindow::KillTimer(int id) {
    auto it = timers_.find(id);
    if (it != timers_.end()) it->second->stop();
}

void TabCtrlWindow::PopToolTip() { QToolTip::hideText(); }

void TabCtrlWindow::ToScreen(int& x, int& y) const {
    const QPoint p = mapToGlobal(QPoint(x, y));
    x = p.x();
    y = p.y();
}

void TabCtrlWindow::CursorPos(int& x, int& y) const {
    const QPoint p = mapFromGlobal(QCursor::pos());
    x = p.x();
    y = p.y();
}

void TabCtrlWindow::TakeColours() {
    const QPalette p = palette();
    SystemColors c;
    c.btnFace = FromQColor(p.color(QPalette::Button));
    c.btnShadow = FromQColor(p.color(QPalette::Mid));
    c.btnText = FromQColor(p.color(QPalette::ButtonText));
    c.window = FromQColor(p.color(QPalette::Base));
    c.windowText = FromQColor(p.color(QPalette::Text));
    c.grayText = FromQColor(p.color(QPalette::Disabled, QPalette::Text));
    c.highlight = FromQColor(p.color(QPalette::Highlight));
    c.highlight3d = FromQColor(p.color(QPalette::Light));
    c.dkShadow3d = FromQColor(p.color(QPalette::Shadow));
    c.appWorkspace = FromQColor(p.color(QPalette::Dark));
    ctrl_.SetColors(c);
}

void TabCtrlWindow::PaintInto(QPainter& painter) {
    TakeColours();
    painter.setFont(normal_);
    VirtualWindow buffer(painter, size());
    TabDC dc(buffer.Dc(), normal_, selected_);
    ctrl_.Paint(dc);
}

QImage TabCtrlWindow::Render() {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintInto(painter);
    painter.end();
    return image;
}

void TabCtrlWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintInto(painter);
}

void TabCtrlWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ctrl_.OnSize();
}

void TabCtrlWindow::mouseMoveEvent(QMouseEvent* event) {
    ctrl_.OnMouseMove(event->position().toPoint().x(), event->position().toPoint().y());
    if (!ctrl_.OnSetCursor()) unsetCursor();
}

void TabCtrlWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    ctrl_.OnMouseMove(p.x(), p.y());
    if (event->button() == Qt::LeftButton) ctrl_.OnLButtonDown(p.x(), p.y());
    else if (event->button() == Qt::RightButton) ctrl_.OnRButtonDown(p.x(), p.y());
    else if (event->button() == Qt::MiddleButton) ctrl_.OnMButtonDown();
}

void TabCtrlWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) ctrl_.OnLButtonDblClk(p.x(), p.y());
}

void TabCtrlWindow::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) ctrl_.OnLButtonUp(p.x(), p.y());
    else if (event->button() == Qt::RightButton) ctrl_.OnRButtonUp(p.x(), p.y());
}

void TabCtrlWindow::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    ctrl_.OnMouseLeave();
}

void TabCtrlWindow::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    ctrl_.OnSetFocus();
}

void TabCtrlWindow::timerEvent(QTimerEvent* event) {
    for (const auto& [id, timer] : timers_) {
        if (timer->timerId() == event->timerId()) {
            ctrl_.OnTimer(id);
            return;
        }
    }
    QWidget::timerEvent(event);
}

bool TabCtrlWindow::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        ctrl_.OnMouseMove(help->pos().x(), help->pos().y());
        const std::u16string text = ctrl_.ToolTipText();
        if (text.empty()) QToolTip::hideText();
        else QToolTip::showText(help->globalPos(), QString::fromStdU16String(text), this);
        return true;
    }
    if (event->type() == QEvent::UngrabMouse && captured_) {
        captured_ = false;
        ctrl_.OnCaptureChanged(true);
    }
    return QWidget::event(event);
}
