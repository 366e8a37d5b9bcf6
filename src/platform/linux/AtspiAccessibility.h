#pragma once
// The focused element of other applications through the accessibility (AT-SPI) bus.
// Every call is bounded (see AtspiConnection); a focus search has an overall budget too.
#include "platform/Accessibility.h"
#include "platform/ActiveApp.h"
#include "platform/linux/AtspiConnection.h"
#include "platform/linux/AtspiTypes.h"
#include <QHash>
#include <memory>

namespace corvane::platform::linux_ {

// Status codes of setValue() besides 0 (success).
enum AtspiWriteStatus : int {
    AtspiWriteFailed = -1,      // the call failed or timed out, or the element is gone
    AtspiWriteUnsupported = -2, // the element has no editable text
    AtspiWriteRefused = -3,     // the application answered that it did not take the text
};

class AtspiFocusEvents;

// The focused element is followed the way screen readers follow it: from the bus's own focus
// events (an element gaining focus, a container that manages its descendants naming its active
// one), checked live before use. A search of the active window's tree remains for the time before
// any event came; it walks widgets that are visible without being marked showing (GTK 4) and looks
// inside a focused pane for the focused field (office suites).
class AtspiAccessibility final : public Accessibility {
public:
    struct Limits {
        int callTimeoutMs = 500;    // one call into one application
        int searchBudgetMs = 1500;  // a whole focus search
        int maxVisited = 4000;      // elements looked at in one window
        int maxManagedChildren = 200; // children of a container that manages its descendants, walked
        int maxEmbeddedObjects = 2000; // objects embedded in one element's text, told apart
    };

    // activeApp, when given, narrows the focus search to the application that owns the active
    // window (by process id), so unrelated applications are never called.
    explicit AtspiAccessibility(ActiveApp* activeApp = nullptr);
    AtspiAccessibility(ActiveApp* activeApp, Limits limits);
    ~AtspiAccessibility() override;

    // The connection to the accessibility bus, for others that need one (a second connection
    // would cost a bus look-up and a handshake more at start).
    AtspiConnection& bus() { return m_bus; }

    // Starts listening to the bus's focus events (again after the bus came back). Events only come
    // for changes after this, so the composition root calls it at start; every lookup calls it too.
    void followFocus();

    bool available() override;
    bool recoverConnection() override;
    ElementRef focusedElement() override;
    // The search of the active window's tree alone, as it answers before any focus event came.
    ElementRef searchFocusedElement();
    std::optional<AccessibleValue> value(const ElementRef& element) override;
    std::optional<QList<EmbeddedObject>> embeddedObjects(const ElementRef& element) override;
    std::optional<Toolkit> toolkit(const ElementRef& element) override;
    std::optional<QRectF> extents(const ElementRef& element) override;
    std::optional<QString> role(const ElementRef& element) override;
    QStringList states(const ElementRef& element) override;
    ElementFacts facts(const ElementRef& element) override;
    std::optional<TextRange> selection(const ElementRef& element) override;
    std::optional<QRectF> textExtents(const ElementRef& element, const TextRange& range) override;
    qint64 processId(const ElementRef& element) override;
    int setValue(const ElementRef& element, const QString& text) override;
    bool setSelection(const ElementRef& element, const TextRange& range) override;

private:
    struct Node {
        QString service;
        QString path;
    };
    class Element final : public AccessibleElement {
    public:
        Element(QString service, QString path, quint64 generation)
            : node{std::move(service), std::move(path)}, generation(generation) {}
        bool sameAs(const AccessibleElement& other) const override {
            const auto* e = dynamic_cast<const Element*>(&other);
            return e && e->generation == generation && e->node.service == node.service && e->node.path == node.path;
        }
        Node node;
        // The bus connection the element was found on: bus names are handed out again by a new bus.
        quint64 generation;
        std::optional<QStringList> interfaces;
    };

    ElementRef makeElement(const Node& node) const;
    // The element, when it was found on the current bus connection.
    Element* live(const ElementRef& element) const;

    QList<Node> children(const Node& node, bool* ok = nullptr);
    std::optional<QList<uint>> stateWords(const Node& node);
    qint64 pidOf(const QString& service);
    ElementRef lookUpFocus(bool fromEvents);
    // The focused field inside the window, else its focused element; editable tells which.
    std::optional<Node> searchWindow(const Node& window, qint64 deadline, bool* editable = nullptr);
    std::optional<Node> rememberedFocus(qint64 ownPid, qint64 activePid, qint64 deadline);
    // The questions that tell the selection or the caret, asked together, and what their answers tell.
    static QList<QDBusMessage> selectionCalls(const QString& service, const QString& path);
    static std::optional<TextRange> selectionFrom(const QList<QDBusMessage>& replies);
    QStringList interfaces(Element& element);
    std::optional<int> intCall(const Node& node, const QString& iface, const QString& method, const QVariantList& args);

    Limits m_limits;
    ActiveApp* m_activeApp;
    AtspiConnection m_bus;
    QHash<QString, qint64> m_pids;
    QHash<QString, Toolkit> m_toolkits; // by bus name
    atspi::FocusHistory m_history;
    std::unique_ptr<AtspiFocusEvents> m_events;
    quint64 m_followedGeneration = 0;
};

} // namespace corvane::platform::linux_
