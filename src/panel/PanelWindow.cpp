#include "panel/PanelWindow.h"

#include "panel/CVDesign.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>

namespace corvane::panel {

PanelWindow::PanelWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("floatingPanel"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1); // the hairline border
    layout->setSpacing(0);
    // The controller sizes the panel (to its content, within the screen): the layout never
    // resizes the window on its own.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
}

void PanelWindow::setContentView(QWidget* view) {
    if (m_view) {
        // Deferred: the old view may be inside one of its own button handlers right now.
        m_view->hide();
        layout()->removeWidget(m_view);
        m_view->deleteLater();
    }
    m_view = view;
    if (view) {
        layout()->addWidget(view);
        view->show(); // a child added to a shown window stays hidden until told otherwise
    }
}

void PanelWindow::setAcceptsFocus(bool accepts) {
    if (acceptsFocus() == accepts)
        return;
    const Qt::WindowFlags flags = accepts ? windowFlags() & ~Qt::WindowDoesNotAcceptFocus
                                          : windowFlags() | Qt::WindowDoesNotAcceptFocus;
    // A shown window takes the change in place: unmapping and mapping it again races with the
    // window manager, which may leave it unmapped while it counts as shown here.
    if (QWindow* window = windowHandle(); window && isVisible()) {
        overrideWindowFlags(flags);
        window->setFlags(flags);
        return;
    }
    setWindowFlags(flags);
}

bool PanelWindow::acceptsFocus() const { return !windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus); }

void PanelWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), CVDesign::background(palette()));
    p.setPen(CVDesign::hairline(palette()));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted())
        Q_EMIT closed();
}

void PanelWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    m_dragging = false;
    m_pressPos = event->globalPosition().toPoint();
    m_dragOffset = m_pressPos - frameGeometry().topLeft();
    event->accept();
}

void PanelWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressed || !(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint global = event->globalPosition().toPoint();
    if (!m_dragging) {
        // A click is not a drag: only a real drag hands the move to the window manager (asked while
        // the button is still down, so it never waits for a release that already happened).
        if ((global - m_pressPos).manhattanLength() < QApplication::startDragDistance()) {
            event->accept();
            return;
        }
        m_dragging = true;
        if (windowHandle() && windowHandle()->startSystemMove()) {
            m_pressed = false;
            event->accept();
            return;
        }
    }
    move(global - m_dragOffset);
    event->accept();
}

void PanelWindow::mouseReleaseEvent(QMouseEvent* event) {
    m_pressed = false;
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

} // namespace corvane::panel
