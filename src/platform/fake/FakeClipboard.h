#pragma once
#include "platform/Clipboard.h"

namespace corvane::platform::fake {

// The clipboard in memory. It holds several formats at once, counts every change and counts the
// fetches of pasting applications, like the X11 clipboard seen from its owner.
class FakeClipboard final : public Clipboard {
    Q_OBJECT
public:
    static inline const QString kPlainText = QStringLiteral("text/plain;charset=utf-8");

    QString text() const override;
    void setText(const QString& text) override;
    void clear() override;
    ClipboardSnapshot snapshot() const override;
    void restore(const ClipboardSnapshot& items) override;
    quint64 changeCount() const override { return m_changes; }
    quint64 fetchCount() const override { return m_fetches; }

    // Another application takes the clipboard with these formats (the user copied something).
    void userCopies(const ClipboardSnapshot& items);
    void userCopiesText(const QString& text);
    // A pasting application fetches the plain text (counts as a fetch).
    QString serveText();

    int writeCount() const { return m_writes; }

private:
    void replaceWith(ClipboardSnapshot items);

    ClipboardSnapshot m_items;
    quint64 m_changes = 0;
    quint64 m_fetches = 0;
    int m_writes = 0;
};

} // namespace corvane::platform::fake
