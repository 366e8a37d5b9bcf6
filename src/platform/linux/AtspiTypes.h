#pragma once
// Plain helpers for the AT-SPI wire data: state sets and screen coordinates.
#include <QHash>
#include <QList>
#include <QRect>
#include <QRectF>
#include <QStringList>
#include <optional>

namespace corvane::platform::linux_::atspi {

// Bit numbers of the AT-SPI state set (two 32-bit words on the wire).
enum State : int {
    Active = 1,
    Editable = 7,
    Focused = 12,
    MultiLine = 17,
    Showing = 25,
    SingleLine = 26,
    Visible = 30,
    Defunct = 6,
    ManagesDescendants = 31,
    ReadOnly = 43,
};

bool hasState(const QList<uint>& words, int bit);
// The names of every set bit, in bit order ("focused", "multi-line", ...). Unknown bits are skipped.
QStringList stateNames(const QList<uint>& words);

struct ScreenGeometry {
    QRect logical;      // QScreen::geometry()
    qreal devicePixelRatio = 1;
};

// Converts a rectangle in device pixels of the whole X screen into Qt global logical
// coordinates: the screen that holds the rectangle's top-left corner keeps its origin and
// scales the offset from it by its device pixel ratio. Without screens the rectangle stays as is.
QRectF toLogical(const QRect& native, const QList<ScreenGeometry>& screens);
// Qt's screens as they are now; none without a GUI application.
QList<ScreenGeometry> screenGeometries();

// An element that the bus's own events named as focused, newest first in a FocusHistory.
struct FocusCandidate {
    QString service;
    QString path;
    QString container; // the path of the container whose active descendant it is; empty for plain focus
    bool operator==(const FocusCandidate&) const = default;
};

// What the focus events of the bus said, as candidates for the focused element. Events are hints:
// they come only for changes after we listened, some toolkits send each twice, others drop focus
// without telling. Whoever uses a candidate checks its live state first.
class FocusHistory {
public:
    static constexpr int kMaxRemembered = 8;

    // object:state-changed:focused. A loss moves the element behind every other candidate.
    void focusChanged(const QString& service, const QString& path, bool focused);
    // object:active-descendant-changed: the descendant becomes the container's only candidate.
    void activeDescendantChanged(const QString& service, const QString& container, const QString& descendantService,
                                 const QString& descendantPath);
    // An application left the bus.
    void forgetApp(const QString& service);
    // The bus was replaced: names on the old one mean nothing on the new one.
    void clear() {
        m_candidates.clear();
        m_lastFocused.clear();
    }

    bool seenAny() const { return m_seenAny; }
    const QList<FocusCandidate>& candidates() const { return m_candidates; }
    // The element of the application that gained focus last, whatever happened to its focus since:
    // while a grabbed key is held, and for a moment after, GTK widgets report no focus at all (some
    // without an event), though the field is still the one the user types in.
    std::optional<QString> lastFocused(const QString& service) const;

private:
    void remove(const QString& service, const QString& path);
    void trim();

    QList<FocusCandidate> m_candidates;
    QHash<QString, QString> m_lastFocused; // by application
    bool m_seenAny = false;
};

} // namespace corvane::platform::linux_::atspi
