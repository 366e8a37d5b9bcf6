#include "platform/linux/QtClipboard.h"
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace corvane::platform::linux_ {

namespace {
const auto kSyntheticImage = QStringLiteral("application/x-qt-image");
}

// Data we put on the clipboard. Every request for its bytes that does not come from us is a
// fetch by another application.
class QtClipboard::OwnedData final : public QMimeData {
public:
    OwnedData(QtClipboard* owner, quint64 generation) : m_owner(owner), m_generation(generation) {}

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (m_owner && m_owner->m_selfReads == 0 && formats().contains(mimeType))
            m_owner->noteFetch(m_generation);
        return QMimeData::retrieveData(mimeType, type);
    }

private:
    QPointer<QtClipboard> m_owner;
    quint64 m_generation;
};

QtClipboard::QtClipboard(QObject* parent) : Clipboard(parent), m_clipboard(QGuiApplication::clipboard()) {
    connect(m_clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode != QClipboard::Clipboard)
            return;
        ++m_changeCount;
        Q_EMIT changed();
    });
}

QtClipboard::~QtClipboard() = default;

void QtClipboard::noteFetch(quint64 generation) {
    if (generation != m_generation)
        return;
    ++m_fetchCount;
    // Announced once the requester has its bytes, never from inside the transfer.
    QMetaObject::invokeMethod(this, [this] { Q_EMIT fetched(); }, Qt::QueuedConnection);
}

void QtClipboard::publish(OwnedData* data) {
    m_fetchCount = 0;
    m_clipboard->setMimeData(data, QClipboard::Clipboard);
}

QString QtClipboard::text() const {
    ++m_selfReads;
    const QMimeData* data = m_clipboard->mimeData(QClipboard::Clipboard);
    QString out = data ? data->text() : QString();
    --m_selfReads;
    return out;
}

void QtClipboard::setText(const QString& text) {
    auto* data = new OwnedData(this, ++m_generation);
    data->setText(text);
    publish(data);
}

void QtClipboard::clear() {
    ++m_generation;
    m_fetchCount = 0;
    m_clipboard->clear(QClipboard::Clipboard);
}

ClipboardSnapshot QtClipboard::snapshot() const {
    ClipboardSnapshot items;
    ++m_selfReads;
    if (const QMimeData* data = m_clipboard->mimeData(QClipboard::Clipboard)) {
        for (const QString& format : data->formats()) {
            if (format == kSyntheticImage)
                continue;
            items.append({format, data->data(format)});
        }
    }
    --m_selfReads;
    return items;
}

void QtClipboard::restore(const ClipboardSnapshot& items) {
    if (items.isEmpty()) {
        clear();
        return;
    }
    auto* data = new OwnedData(this, ++m_generation);
    for (const auto& item : items)
        data->setData(item.format, item.data);
    publish(data);
}

} // namespace corvane::platform::linux_
