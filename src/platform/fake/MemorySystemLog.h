#pragma once
#include "platform/SystemLog.h"
#include <QMutex>
#include <QStringList>

namespace corvane::platform::fake {

class MemorySystemLog final : public SystemLog {
public:
    void info(const QString& category, const QString& message) override {
        QMutexLocker lock(&m_mutex);
        m_lines << category + QLatin1Char('|') + message;
    }
    QStringList lines() const {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

} // namespace corvane::platform::fake
