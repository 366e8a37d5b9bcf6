#include "e2e/PanelProbe.h"
#include "e2e/Desktop.h"

// After Qt (the project builds with QT_NO_KEYWORDS, so glib's "signals" fields do not clash).
#include <atspi/atspi.h>

namespace corvane::e2e {

namespace {

// Owns one reference of a GObject.
template <class T>
class Ref {
public:
    explicit Ref(T* p = nullptr) : m_p(p) {}
    ~Ref() {
        if (m_p)
            g_object_unref(m_p);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* get() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p;
};

// Takes a glib string, and drops an error nobody needs.
QString take(gchar* s, GError** error) {
    g_clear_error(error);
    const QString out = s ? QString::fromUtf8(s) : QString();
    g_free(s);
    return out;
}

void ensureConnected() {
    static const bool connected = [] {
        atspi_init();
        // A machine busy with other sessions answers slowly; a call that never answers still fails.
        atspi_set_timeout(5000, 15000);
        return true;
    }();
    (void)connected;
}

PanelProbe::Item::Kind kindOf(AtspiRole role) {
    switch (role) {
    case ATSPI_ROLE_PUSH_BUTTON: return PanelProbe::Item::Kind::Button;
    case ATSPI_ROLE_LABEL: return PanelProbe::Item::Kind::Label;
    case ATSPI_ROLE_TEXT: return PanelProbe::Item::Kind::Text;
    default: return PanelProbe::Item::Kind::Other;
    }
}

void collect(AtspiAccessible* node, QList<PanelProbe::Item>& out, int depth) {
    if (depth > 48)
        return;
    GError* error = nullptr;
    {
        Ref<AtspiStateSet> states(atspi_accessible_get_state_set(node));
        if (!states || !atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING))
            return; // hidden widgets, and everything inside them
    }
    const AtspiRole role = atspi_accessible_get_role(node, &error);
    g_clear_error(&error);
    PanelProbe::Item item;
    item.kind = kindOf(role);
    item.name = take(atspi_accessible_get_name(node, &error), &error);
    if (item.kind == PanelProbe::Item::Kind::Button)
        item.node = std::shared_ptr<void>(g_object_ref(node), g_object_unref);
    if (Ref<AtspiText> text(atspi_accessible_get_text_iface(node)); text) {
        const gint count = atspi_text_get_character_count(text.get(), &error);
        g_clear_error(&error);
        item.text = take(atspi_text_get_text(text.get(), 0, count, &error), &error);
    }
    if (Ref<AtspiComponent> component(atspi_accessible_get_component_iface(node)); component) {
        AtspiRect* r = atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &error);
        g_clear_error(&error);
        if (r)
            item.extents = QRect(r->x, r->y, r->width, r->height);
        g_free(r);
    }
    out.append(item);
    // A combo box lists its items as showing even while its popup is closed: its name is enough.
    if (role == ATSPI_ROLE_COMBO_BOX)
        return;
    const gint children = atspi_accessible_get_child_count(node, &error);
    g_clear_error(&error);
    for (gint i = 0; i < children; ++i) {
        Ref<AtspiAccessible> child(atspi_accessible_get_child_at_index(node, i, &error));
        g_clear_error(&error);
        if (child)
            collect(child.get(), out, depth + 1);
    }
}

} // namespace

PanelProbe::PanelProbe(qint64 corvanePid) : m_pid(corvanePid) { ensureConnected(); }

QList<PanelProbe::Item> PanelProbe::showing() const {
    QList<Item> out;
    GError* error = nullptr;
    Ref<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return out;
    // Everything is read afresh: the panel changes under us.
    atspi_accessible_clear_cache(desktop.get());
    const gint apps = atspi_accessible_get_child_count(desktop.get(), &error);
    g_clear_error(&error);
    for (gint i = 0; i < apps; ++i) {
        Ref<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, &error));
        g_clear_error(&error);
        if (!app)
            continue;
        const guint pid = atspi_accessible_get_process_id(app.get(), &error);
        g_clear_error(&error);
        if (qint64(pid) != m_pid)
            continue;
        atspi_accessible_set_cache_mask(app.get(), ATSPI_CACHE_NONE);
        const gint windows = atspi_accessible_get_child_count(app.get(), &error);
        g_clear_error(&error);
        for (gint w = 0; w < windows; ++w) {
            Ref<AtspiAccessible> window(atspi_accessible_get_child_at_index(app.get(), w, &error));
            g_clear_error(&error);
            if (window)
                collect(window.get(), out, 0);
        }
    }
    return out;
}

bool PanelProbe::visible() const {
    for (const Item& item : showing())
        if (item.kind == Item::Kind::Button && item.name == QLatin1String("Close") && !item.extents.isEmpty())
            return true;
    return false;
}

std::optional<QString> PanelProbe::title() const {
    for (const Item& item : showing())
        if (item.kind == Item::Kind::Label)
            return item.name; // the header's title comes first
    return std::nullopt;
}

QStringList PanelProbe::texts() const {
    QStringList out;
    for (const Item& item : showing())
        if (item.kind == Item::Kind::Text)
            out.append(item.text);
    return out;
}

bool PanelProbe::shows(const QString& fragment) const {
    for (const Item& item : showing())
        if (item.text.contains(fragment) || (item.kind == Item::Kind::Label && item.name.contains(fragment)))
            return true;
    return false;
}

bool PanelProbe::click(const QString& buttonLabel) const {
    for (const Item& item : showing())
        if (item.kind == Item::Kind::Button && item.name == buttonLabel && !item.extents.isEmpty())
            return clickAt(item.extents.center().x(), item.extents.center().y());
    return false;
}

bool PanelProbe::press(const QString& buttonLabel) const {
    for (const Item& item : showing()) {
        if (item.kind != Item::Kind::Button || item.name != buttonLabel || !item.node)
            continue;
        Ref<AtspiAction> action(atspi_accessible_get_action_iface(static_cast<AtspiAccessible*>(item.node.get())));
        GError* error = nullptr;
        const bool done = action && atspi_action_do_action(action.get(), 0, &error);
        g_clear_error(&error);
        return done;
    }
    return false;
}

bool PanelProbe::clickTextBox() const {
    for (const Item& item : showing())
        if (item.kind == Item::Kind::Text && !item.extents.isEmpty())
            return clickAt(item.extents.center().x(), item.extents.center().y());
    return false;
}

QString PanelProbe::describe() const {
    QString out;
    for (const Item& item : showing()) {
        static const char* const kinds[] = {"button", "label", "text", "other"};
        out += QStringLiteral("  %1 \"%2\" \"%3\" (%4,%5 %6x%7)\n")
                   .arg(QString::fromLatin1(kinds[int(item.kind)]), item.name, item.text)
                   .arg(item.extents.x())
                   .arg(item.extents.y())
                   .arg(item.extents.width())
                   .arg(item.extents.height());
    }
    return out.isEmpty() ? QStringLiteral("  (nothing shows)\n") : out;
}

} // namespace corvane::e2e
