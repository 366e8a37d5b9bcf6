#pragma once
// One Corvane per session: the first process owns a name on the session bus; a later start asks it
// to open its settings window and then ends. Two instances would mean two key taps and double runs.
#include <QObject>
#include <functional>

namespace corvane::app {

class SingleInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.corvane.Corvane")
public:
    static constexpr const char* serviceName = "com.corvane.Corvane";
    static constexpr const char* objectPath = "/com/corvane/Corvane";

    enum class Claim { Owned, RunningElsewhere, NoBus };
    explicit SingleInstance(QObject* parent = nullptr);

    // Takes the name. RunningElsewhere: another process holds it, and it was asked to show its
    // settings. NoBus: no session bus; the process runs without the guard.
    Claim claim();
    // What a later start asks for; a request that came before this is set runs when it is set.
    void setShowSettingsHandler(std::function<void()> handler);

public Q_SLOTS:
    Q_SCRIPTABLE void ShowSettings();

private:
    std::function<void()> m_handler;
    bool m_pending = false;
};

} // namespace corvane::app
