#pragma once
// Global shortcuts: the settings' hotkey and the per-app hotkeys. The caller hands the full list at
// every change; each use comes back on the main loop as the id the caller gave the shortcut, once
// the combination's key is released (the end of its grab).
// A shortcut that cannot be grabbed is skipped, logged and listed in lastErrors().
#include "platform/HotkeyGrabber.h"
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <map>

namespace corvane::platform {
class Clock;
}

namespace corvane::trigger {

struct HotkeyRegistration {
    QString id;         // opaque to the center; need not be unique
    qint64 keyCode = -1; // stored key code; negative: skipped
    qint64 modifiers = 0; // stored modifier bits
};

struct HotkeyError {
    enum class Reason { Taken, NeedsModifier, Duplicate, UnknownKey, Unavailable };
    QString id;
    qint64 keyCode = -1;
    qint64 modifiers = 0;
    Reason reason = Reason::Taken;
    QString message; // a sentence for the settings window
};

class HotkeyCenter final : public QObject {
    Q_OBJECT
public:
    static constexpr quint32 kFirstSignature = 0x484B0000;

    HotkeyCenter(platform::HotkeyGrabber& grabber, platform::Clock& clock, QObject* parent = nullptr);

    // The process instance wired by the composition root; until then one that can grab nothing.
    static HotkeyCenter& shared();
    static void setShared(HotkeyCenter* center);

    // Replaces every registration with those of the list, in list order, and makes dispatcher the
    // receiver of all presses. Main thread only.
    void sync(const QList<HotkeyRegistration>& registrations, std::function<void(const QString&)> dispatcher);

    // While a shortcut is being recorded every grab is released, so that the press reaches the
    // recorder; sync() calls meanwhile are kept and applied by resume().
    void suspend();
    void resume();
    bool isSuspended() const { return m_suspended; }

    // The shortcuts of the last sync that are not active, in list order.
    QList<HotkeyError> lastErrors() const { return m_errors; }
    // Signatures of the live registrations, ascending.
    QList<quint32> activeSignatures() const;

    // The four stored modifier bits of a raw value; every other bit dropped.
    static qint64 grabModifiers(qint64 raw);
    static QString message(HotkeyError::Reason reason);

Q_SIGNALS:
    void errorsChanged();

private:
    void removeAll();
    void ensureInstalled();
    void registerHotkey(const HotkeyRegistration& registration);
    void dispatch(quint32 signature);
    void fail(const HotkeyRegistration& registration, HotkeyError::Reason reason);

    platform::HotkeyGrabber& m_grabber;
    platform::Clock& m_clock;
    bool m_installed = false;
    std::map<quint32, std::pair<qint64, qint64>> m_registrations; // signature -> combination
    std::map<quint32, QString> m_idBySignature;
    QSet<quint32> m_held; // grabs pressed and not yet released
    quint32 m_nextSignature = kFirstSignature;
    std::function<void(const QString&)> m_dispatcher;
    QList<HotkeyError> m_errors;
    QList<HotkeyRegistration> m_lastRegistrations;
    bool m_suspended = false;
};

} // namespace corvane::trigger
