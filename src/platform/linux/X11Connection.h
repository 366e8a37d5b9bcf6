#pragma once
// Our own connection to the X server for the keyboard backends (tap, grabs, layout, synthetic
// keys). Events are read on the main loop through a socket notifier and handed to listeners.
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <xcb/xcb.h>

class QSocketNotifier;

namespace corvane::platform::linux_ {

class XkbKeyboard;

class X11Connection final : public QObject {
    Q_OBJECT
public:
    using Listener = std::function<void(const xcb_generic_event_t* event)>;

    // Connects to displayName, or to $DISPLAY when empty. Check isOpen() afterwards.
    explicit X11Connection(const QByteArray& displayName = {}, QObject* parent = nullptr);
    ~X11Connection() override;

    // Connected and the connection has not failed since.
    bool isOpen() const;
    // Why the connection is not open (empty while it is).
    QString error() const;

    xcb_connection_t* xcb() const { return m_conn; }
    xcb_window_t root() const { return m_root; }
    // The keyboard as the server has it now; nullptr without the XKB extension.
    XkbKeyboard* keyboard() const { return m_keyboard.get(); }

    int addListener(Listener listener);
    void removeListener(int id);

    // After a request that waited for its reply, xcb may hold events the socket no longer signals:
    // this dispatches them on the next turn of the loop.
    void dispatchQueuedSoon();
    // Waits until the server has processed every request sent so far.
    void sync();
    xcb_atom_t atom(const char* name);

private:
    void readEvents(bool fromSocket);
    void dispatch(const xcb_generic_event_t* event);

    xcb_connection_t* m_conn = nullptr;
    xcb_window_t m_root = 0;
    QString m_error;
    QSocketNotifier* m_notifier = nullptr;
    std::unique_ptr<XkbKeyboard> m_keyboard;
    std::map<int, Listener> m_listeners;
    int m_nextListener = 1;
    bool m_drainQueued = false;
};

} // namespace corvane::platform::linux_
