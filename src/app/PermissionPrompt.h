#pragma once
// The permission prompt: says what Corvane needs from the session and why, and switches the
// session's accessibility on only when the user chooses "Switch On". When something else is
// missing (no accessibility bus, no XInput2, no X11), it says that instead. It appears at start and
// from the menu while the user may be typing elsewhere, so it never takes the keyboard focus.
#include <QWidget>

class QLabel;
class QPushButton;

namespace corvane::trigger {
class AccessibilityPermission;
}

namespace corvane::app {

class PermissionPrompt final : public QWidget {
    Q_OBJECT
public:
    explicit PermissionPrompt(trigger::AccessibilityPermission& permission, QWidget* parent = nullptr);

    // Reads the session again, fills the window and shows it in the top-right corner of the
    // primary screen without activating it.
    void present();

private:
    void fill(bool switchFailed);

    trigger::AccessibilityPermission& m_permission;
    QLabel* m_title;
    QLabel* m_body;
    QPushButton* m_switchOn;
    QPushButton* m_notNow;
    QPushButton* m_ok;
};

} // namespace corvane::app
