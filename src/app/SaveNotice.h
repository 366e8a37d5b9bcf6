#pragma once
// Tells the user about the storage of settings and the activity log (they are not being saved, the
// file was found damaged): a tray message where a tray shows Corvane's icon, else a small window
// that never takes the keyboard focus. When saving works again the window goes away.
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QSystemTrayIcon;
class QWidget;

namespace corvane::app {

class SaveNotice final : public QObject {
    Q_OBJECT
public:
    // tray: the tray icon when a tray shows it now, else null. name: the window's object name.
    explicit SaveNotice(std::function<QSystemTrayIcon*()> tray, QString name = QStringLiteral("saveNotice"),
                        QObject* parent = nullptr);
    ~SaveNotice() override;

    void tell(const QString& title, const QString& message);
    void withdraw();
    // The window shown without a tray; null otherwise.
    QWidget* window() const { return m_window; }

private:
    std::function<QSystemTrayIcon*()> m_tray;
    QString m_name;
    QPointer<QWidget> m_window;
};

} // namespace corvane::app
