#include "platform/fake/FakeClipboard.h"

namespace corvane::platform::fake {

QString FakeClipboard::text() const {
    for (const auto& item : m_items)
        if (item.format == kPlainText || item.format == QLatin1String("text/plain"))
            return QString::fromUtf8(item.data);
    return {};
}

void FakeClipboard::setText(const QString& text) {
    ++m_writes;
    replaceWith({{kPlainText, text.toUtf8()}});
}

void FakeClipboard::clear() {
    ++m_writes;
    replaceWith({});
}

ClipboardSnapshot FakeClipboard::snapshot() const { return m_items; }

void FakeClipboard::restore(const ClipboardSnapshot& items) {
    ++m_writes;
    replaceWith(items);
}

void FakeClipboard::userCopies(const ClipboardSnapshot& items) { replaceWith(items); }

void FakeClipboard::userCopiesText(const QString& text) { replaceWith({{kPlainText, text.toUtf8()}}); }

QString FakeClipboard::serveText() {
    ++m_fetches;
    Q_EMIT fetched();
    return text();
}

void FakeClipboard::replaceWith(ClipboardSnapshot items) {
    m_items = std::move(items);
    ++m_changes;
    Q_EMIT changed();
}

} // namespace corvane::platform::fake
