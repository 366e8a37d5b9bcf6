#pragma once
// The system clipboard with every format it holds.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

namespace corvane::platform {

struct ClipboardItem {
    QString format;    // MIME type
    QByteArray data;
};
using ClipboardSnapshot = QList<ClipboardItem>;

class Clipboard : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Clipboard() override = default;

    // Plain text (text/plain;charset=utf-8 or text/plain), or empty.
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual void clear() = 0;
    // Every format with its bytes, in the order the owner offers them.
    virtual ClipboardSnapshot snapshot() const = 0;
    virtual void restore(const ClipboardSnapshot& items) = 0;
    // Increases on every change of the clipboard's content, ours included.
    virtual quint64 changeCount() const = 0;
    // How many times another application fetched data that we own since our last write.
    virtual quint64 fetchCount() const = 0;

Q_SIGNALS:
    void changed();
    void fetched();
};

} // namespace corvane::platform
