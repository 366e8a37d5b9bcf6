#pragma once
// The floating panel's top-level window: frameless, always on top, never activated when shown and,
// outside draft mode, never given the keyboard focus, so the application the user types in keeps
// it. It paints an opaque background with a hairline border, can be dragged by its background,
// and reports every close (its own close control, or the window manager's).
#include <QPoint>
#include <QPointer>
#include <QWidget>

namespace corvane::panel {

class PanelWindow : public QWidget {
    Q_OBJECT
public:
    explicit PanelWindow(QWidget* parent = nullptr);

    // Installs the content, replacing (and later deleting) the previous one.
    void setContentView(QWidget* view);
    QWidget* contentView() const { return m_view; }

    // Whether the window may take the keyboard focus (only while the draft editor needs it).
    void setAcceptsFocus(bool accepts);
    bool acceptsFocus() const;

Q_SIGNALS:
    void closed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointer<QWidget> m_view;
    bool m_pressed = false;
    bool m_dragging = false;
    QPoint m_pressPos;
    QPoint m_dragOffset;
};

} // namespace corvane::panel
