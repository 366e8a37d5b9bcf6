#pragma once
// The system clipboard through QClipboard, with every format byte for byte, and a count of the
// times other applications fetched what we own (a paste is complete only once the target has it).
#include "platform/Clipboard.h"
#include <QPointer>

class QClipboard;

namespace corvane::platform::linux_ {

class QtClipboard final : public Clipboard {
    Q_OBJECT
public:
    // Needs a QGuiApplication. Formats Qt makes up for images ("application/x-qt-image") are left
    // out of snapshots: they are conversions, not data the owner offered.
    explicit QtClipboard(QObject* parent = nullptr);
    ~QtClipboard() override;

    QString text() const override;
    void setText(const QString& text) override;
    void clear() override;
    ClipboardSnapshot snapshot() const override;
    void restore(const ClipboardSnapshot& items) override;
    quint64 changeCount() const override { return m_changeCount; }
    quint64 fetchCount() const override { return m_fetchCount; }

private:
    class OwnedData;
    friend class OwnedData;
    void noteFetch(quint64 generation);
    void publish(OwnedData* data);

    QClipboard* m_clipboard;
    quint64 m_changeCount = 0;
    quint64 m_fetchCount = 0;
    quint64 m_generation = 0;
    // Our own reads of data we own go through the same path as other apps' requests.
    mutable int m_selfReads = 0;
};

} // namespace corvane::platform::linux_
