#include "trigger/HotkeyCenter.h"
#include "platform/Clock.h"
#include "platform/RunTrace.h"
#include "platform/VirtualKeys.h"
#include "stores/DiagLog.h"
#include <QCoreApplication>
#include <QThread>

namespace corvane::trigger {

namespace keys = platform::keys;
using stores::DiagLog;

namespace {

class NoGrabber final : public platform::HotkeyGrabber {
public:
    void setHandler(Handler) override {}
    platform::GrabStatus grab(quint32, qint64, qint64) override { return platform::GrabStatus::Unavailable; }
    void ungrab(quint32) override {}
};

HotkeyCenter* g_shared = nullptr;

QString reasonName(HotkeyError::Reason reason) {
    switch (reason) {
    case HotkeyError::Reason::Taken: return QStringLiteral("already taken by another application");
    case HotkeyError::Reason::NeedsModifier: return QStringLiteral("a key without Ctrl, Alt or Super is never grabbed");
    case HotkeyError::Reason::Duplicate: return QStringLiteral("same combination as an earlier shortcut");
    case HotkeyError::Reason::UnknownKey: return QStringLiteral("key not on the current keyboard");
    case HotkeyError::Reason::Unavailable: return QStringLiteral("global shortcuts unavailable");
    }
    return {};
}

} // namespace

HotkeyCenter::HotkeyCenter(platform::HotkeyGrabber& grabber, platform::Clock& clock, QObject* parent)
    : QObject(parent), m_grabber(grabber), m_clock(clock) {}

HotkeyCenter& HotkeyCenter::shared() {
    if (!g_shared) {
        static NoGrabber none;
        static HotkeyCenter fallback(none, platform::Clock::shared());
        g_shared = &fallback;
    }
    return *g_shared;
}

void HotkeyCenter::setShared(HotkeyCenter* center) { g_shared = center; }

qint64 HotkeyCenter::grabModifiers(qint64 raw) { return raw & keys::ModMask; }

QString HotkeyCenter::message(HotkeyError::Reason reason) {
    switch (reason) {
    case HotkeyError::Reason::Taken:
        return QCoreApplication::translate("HotkeyCenter", "This shortcut is already used by another application.");
    case HotkeyError::Reason::NeedsModifier:
        return QCoreApplication::translate("HotkeyCenter", "Add Ctrl, Alt or Super to this shortcut.");
    case HotkeyError::Reason::Duplicate:
        return QCoreApplication::translate("HotkeyCenter", "This shortcut is already assigned to another Corvane shortcut.");
    case HotkeyError::Reason::UnknownKey:
        return QCoreApplication::translate("HotkeyCenter", "This key is not on the current keyboard.");
    case HotkeyError::Reason::Unavailable:
        return QCoreApplication::translate("HotkeyCenter", "Global shortcuts are not available in this session.");
    }
    return {};
}

QList<quint32> HotkeyCenter::activeSignatures() const {
    QList<quint32> out;
    for (const auto& [signature, combo] : m_registrations)
        out.append(signature);
    return out;
}

void HotkeyCenter::sync(const QList<HotkeyRegistration>& registrations,
                        std::function<void(const QString&)> dispatcher) {
    Q_ASSERT(QThread::currentThread() == thread());
    m_dispatcher = std::move(dispatcher);
    m_lastRegistrations = registrations;
    if (m_suspended)
        return;
    removeAll();
    ensureInstalled();
    const QList<HotkeyError> before = m_errors;
    m_errors.clear();
    for (const HotkeyRegistration& r : registrations)
        registerHotkey(r);
    const bool changed = before.size() != m_errors.size() ||
                         !std::equal(before.begin(), before.end(), m_errors.begin(), [](const auto& a, const auto& b) {
                             return a.id == b.id && a.keyCode == b.keyCode && a.modifiers == b.modifiers &&
                                    a.reason == b.reason;
                         });
    if (changed)
        Q_EMIT errorsChanged();
}

void HotkeyCenter::suspend() {
    if (m_suspended)
        return;
    m_suspended = true;
    removeAll();
}

void HotkeyCenter::resume() {
    if (!m_suspended)
        return;
    m_suspended = false;
    sync(m_lastRegistrations, m_dispatcher);
}

void HotkeyCenter::removeAll() {
    for (const auto& [signature, combo] : m_registrations)
        m_grabber.ungrab(signature);
    m_registrations.clear();
    m_idBySignature.clear();
    m_held.clear();
}

void HotkeyCenter::ensureInstalled() {
    if (m_installed)
        return;
    // A shortcut is used when its grab ends, at the release of its key: while the combination is
    // held the grab keeps the keyboard, and some toolkits report no focused field until it ends.
    m_grabber.setHandler([this](quint32 signature, bool pressed) {
        if (pressed) {
            m_held.insert(signature);
            return;
        }
        if (!m_held.remove(signature))
            return;
        platform::runtrace::mark("fired");
        m_clock.schedule(0, this, [this, signature] { dispatch(signature); });
    });
    m_installed = true;
}

void HotkeyCenter::registerHotkey(const HotkeyRegistration& r) {
    if (r.keyCode < 0)
        return;
    const quint32 signature = ++m_nextSignature;
    const qint64 mods = grabModifiers(r.modifiers);
    // A grabbed key is taken from every application: plain keys and Shift+key would stop typing.
    if ((mods & ~keys::ModShift) == 0 && !keys::isFunctionKey(r.keyCode))
        return fail(r, HotkeyError::Reason::NeedsModifier);
    for (const auto& [other, combo] : m_registrations)
        if (combo.first == r.keyCode && combo.second == mods)
            return fail(r, HotkeyError::Reason::Duplicate);
    switch (m_grabber.grab(signature, r.keyCode, mods)) {
    case platform::GrabStatus::Grabbed:
        m_registrations[signature] = {r.keyCode, mods};
        m_idBySignature[signature] = r.id;
        return;
    case platform::GrabStatus::Taken: return fail(r, HotkeyError::Reason::Taken);
    case platform::GrabStatus::UnknownKey: return fail(r, HotkeyError::Reason::UnknownKey);
    case platform::GrabStatus::Unavailable: return fail(r, HotkeyError::Reason::Unavailable);
    }
}

void HotkeyCenter::fail(const HotkeyRegistration& r, HotkeyError::Reason reason) {
    m_errors.append({r.id, r.keyCode, r.modifiers, reason, message(reason)});
    DiagLog::event(QStringLiteral("HotkeyCenter shortcut \"%1\" not registered: %2").arg(r.id, reasonName(reason)));
}

void HotkeyCenter::dispatch(quint32 signature) {
    const auto it = m_idBySignature.find(signature);
    if (it == m_idBySignature.end() || !m_dispatcher)
        return;
    const QString id = it->second;
    auto dispatcher = m_dispatcher;
    dispatcher(id);
}

} // namespace corvane::trigger
