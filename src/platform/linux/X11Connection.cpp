#include "platform/linux/X11Connection.h"
#include "platform/linux/XkbKeyboard.h"
#include <QMetaObject>
#include <QSocketNotifier>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace corvane::platform::linux_ {

X11Connection::X11Connection(const QByteArray& displayName, QObject* parent) : QObject(parent) {
    const QByteArray name = displayName.isEmpty() ? qgetenv("DISPLAY") : displayName;
    if (name.isEmpty()) {
        m_error = QStringLiteral("no X11 display (DISPLAY is not set)");
        return;
    }
    int screenNumber = 0;
    m_conn = xcb_connect(name.constData(), &screenNumber);
    if (!m_conn || xcb_connection_has_error(m_conn)) {
        m_error = QStringLiteral("cannot connect to the X11 display %1").arg(QString::fromLocal8Bit(name));
        if (m_conn)
            xcb_disconnect(m_conn);
        m_conn = nullptr;
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_conn));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    m_root = it.rem ? it.data->root : 0;

    m_keyboard = XkbKeyboard::create(m_conn);

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_conn), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readEvents(true); });
    dispatchQueuedSoon();
}

X11Connection::~X11Connection() {
    m_keyboard.reset();
    if (m_conn)
        xcb_disconnect(m_conn);
}

bool X11Connection::isOpen() const { return m_conn && !xcb_connection_has_error(m_conn); }

QString X11Connection::error() const {
    if (!m_conn)
        return m_error;
    if (xcb_connection_has_error(m_conn))
        return QStringLiteral("the connection to the X11 display was lost");
    return {};
}

int X11Connection::addListener(Listener listener) {
    const int id = m_nextListener++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void X11Connection::removeListener(int id) { m_listeners.erase(id); }

void X11Connection::dispatchQueuedSoon() {
    if (m_drainQueued || !m_conn)
        return;
    m_drainQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_drainQueued = false;
            readEvents(false);
        },
        Qt::QueuedConnection);
}

void X11Connection::sync() {
    if (!isOpen())
        return;
    free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
    dispatchQueuedSoon();
}

xcb_atom_t X11Connection::atom(const char* name) {
    if (!isOpen())
        return XCB_ATOM_NONE;
    auto* reply = xcb_intern_atom_reply(m_conn, xcb_intern_atom(m_conn, 1, uint16_t(strlen(name)), name), nullptr);
    xcb_atom_t a = XCB_ATOM_NONE;
    if (reply)
        a = reply->atom;
    free(reply);
    return a;
}

void X11Connection::readEvents(bool fromSocket) {
    if (!m_conn)
        return;
    while (xcb_generic_event_t* event = fromSocket ? xcb_poll_for_event(m_conn) : xcb_poll_for_queued_event(m_conn)) {
        dispatch(event);
        free(event);
    }
    if (xcb_connection_has_error(m_conn) && m_notifier)
        m_notifier->setEnabled(false);
}

void X11Connection::dispatch(const xcb_generic_event_t* event) {
    if (m_keyboard && m_keyboard->handleEvent(event))
        return;
    // A listener may add or remove listeners while it runs.
    std::vector<int> ids;
    ids.reserve(m_listeners.size());
    for (const auto& [id, fn] : m_listeners)
        ids.push_back(id);
    for (int id : ids) {
        auto it = m_listeners.find(id);
        if (it != m_listeners.end()) {
            Listener fn = it->second;
            fn(event);
        }
    }
}

} // namespace corvane::platform::linux_
