#include "stores/DiagLog.h"
#include "platform/Clock.h"
#include "platform/PrivateFiles.h"
#include "platform/SystemLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane::stores {

namespace {

// The serial appender: one worker thread appends queued lines to their files in the order they
// were queued, so callers never wait for the disk. The one instance is never destroyed.
class DiagLogWriter {
public:
    // Queues bytes for the end of the file at path. After stop(), appends on the caller's thread.
    void enqueue(const QString& path, QByteArray bytes);
    // Returns once everything queued before the call has been handled.
    void flush();
    // Writes what is still queued and ends the worker thread.
    void stop();

    // Opens the file in append mode (creating it and its folder when missing) and writes bytes.
    // An existing file is never truncated or replaced. Returns false when nothing could be written.
    static bool append(const QString& path, const QByteArray& bytes);

private:
    struct Pending {
        QString path;
        QByteArray bytes;
    };
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Pending> m_queue;
    bool m_busy = false;
    bool m_stopping = false;
    bool m_stopped = false;
    std::thread m_thread;
};

void DiagLogWriter::enqueue(const QString& path, QByteArray bytes) {
    std::unique_lock lock(m_mutex);
    if (m_stopped) {
        // Late lines (process shutdown) are written directly, still one at a time.
        append(path, bytes);
        return;
    }
    m_queue.push_back({path, std::move(bytes)});
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    lock.unlock();
    m_wake.notify_one();
}

void DiagLogWriter::flush() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return (m_queue.empty() && !m_busy) || m_stopped; });
}

void DiagLogWriter::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    m_stopped = true;
    m_idle.notify_all();
}

void DiagLogWriter::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty())
            return; // stopping with nothing left
        std::deque<Pending> batch;
        batch.swap(m_queue);
        m_busy = true;
        lock.unlock();

        // Consecutive lines for the same file go out in one open and one write.
        while (!batch.empty()) {
            const QString path = batch.front().path;
            QByteArray bytes;
            while (!batch.empty() && batch.front().path == path) {
                bytes += batch.front().bytes;
                batch.pop_front();
            }
            append(path, bytes);
        }

        lock.lock();
        m_busy = false;
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

// Whether the regular file open for reading in file is not empty and its last byte is no line feed.
bool endsMidLine(const QFile& file) {
    struct stat st {};
    if (!file.isReadable() || ::fstat(file.handle(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
        return false;
    char last = '\n';
    return ::pread(file.handle(), &last, 1, st.st_size - 1) == 1 && last != '\n';
}

bool DiagLogWriter::append(const QString& path, const QByteArray& bytes) {
    if (path.isEmpty() || bytes.isEmpty())
        return false;
    QFile file(path);
    // A regular file (or none yet) is opened for reading too: its last byte tells whether the
    // previous line was cut short. Anything else is written alone: a pipe opened for reading as
    // well would not wait for its reader and would take the line back out itself.
    struct stat st {};
    const bool regular = ::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode);
    const auto mode = (regular ? QIODevice::ReadWrite : QIODevice::WriteOnly) | QIODevice::Append | QIODevice::Unbuffered;
    // The log quotes what the user does: it is theirs alone, whatever the umask.
    constexpr auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    if (!file.open(mode, ownerOnly)) {
        // Most likely the folder is missing; create it and try once more. Never fall back to a
        // mode that replaces what the file holds.
        platform::privatefiles::ensureFolder(QFileInfo(path).absolutePath());
        if (!file.open(mode, ownerOnly))
            return false;
    }
    platform::privatefiles::narrowFile(file.handle());
    // A line cut short (a full disk, a crash in the middle of a write) is closed first, so that the
    // next line starts on a line of its own.
    const QByteArray out = endsMidLine(file) ? '\n' + bytes : bytes;
    qint64 written = 0;
    while (written < out.size()) {
        const qint64 n = file.write(out.constData() + written, out.size() - written);
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

struct Config {
    platform::SystemLog* systemLog = nullptr;
    platform::Clock* clock = nullptr;
    QString path;
};

std::mutex g_configMutex;
Config g_config;

std::mutex g_throttleMutex;
QHash<QString, qint64> g_lastSeen; // throttle key -> uptime (ms) of the last line it let through

Config currentConfig() {
    std::lock_guard lock(g_configMutex);
    return g_config;
}

// Never destroyed: lines may still arrive from other threads while the process winds down. At exit
// the worker writes what is queued and stops; later lines are appended directly.
DiagLogWriter& writer() {
    static DiagLogWriter* instance = [] {
        auto* w = new DiagLogWriter;
        std::atexit([] { writer().stop(); });
        return w;
    }();
    return *instance;
}

QString timestamp(const platform::Clock* clock) {
    const QDateTime now = clock ? clock->now().toLocalTime() : QDateTime::currentDateTime();
    return now.toString(QStringLiteral("MM-dd HH:mm:ss.zzz"));
}

qint64 uptimeMs(const platform::Clock* clock) {
    if (clock)
        return clock->uptimeMs();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

void DiagLog::configure(platform::SystemLog* systemLog, platform::Clock* clock, const QString& filePath) {
    // A folder left from an earlier version with wider rights is narrowed once, here.
    if (!filePath.isEmpty() && QFileInfo::exists(QFileInfo(filePath).absolutePath()))
        platform::privatefiles::ensureFolder(QFileInfo(filePath).absolutePath());
    {
        std::lock_guard lock(g_configMutex);
        g_config = Config{systemLog, clock, filePath};
    }
    std::lock_guard lock(g_throttleMutex);
    g_lastSeen.clear();
}

QString DiagLog::defaultFilePath() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/corvane/corvane-diag.log");
}

QString DiagLog::filePath() { return currentConfig().path; }

void DiagLog::event(const QString& message) {
    const Config config = currentConfig();
    const QString line = timestamp(config.clock) + QLatin1Char(' ') + message + QLatin1Char('\n');
    // The message is handed over as data; no layer below formats it.
    if (config.systemLog)
        config.systemLog->info(QString::fromLatin1(category), message);
    if (!config.path.isEmpty())
        writer().enqueue(config.path, line.toUtf8());
}

void DiagLog::throttled(const QString& key, double windowSeconds, const QString& message) {
    const qint64 now = uptimeMs(currentConfig().clock);
    {
        std::lock_guard lock(g_throttleMutex);
        auto it = g_lastSeen.constFind(key);
        if (it != g_lastSeen.constEnd() && double(now - *it) < windowSeconds * 1000.0)
            return;
        g_lastSeen.insert(key, now);
    }
    event(message);
}

QString DiagLog::tail(qint64 maxBytes) {
    const QString path = filePath();
    if (maxBytes <= 0 || path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    const qint64 start = std::max<qint64>(0, size - maxBytes);
    if (start > 0 && !file.seek(start))
        return {};
    const QByteArray bytes = file.read(size - start);

    // Never begin inside a character: skip UTF-8 continuation bytes (10xxxxxx).
    qsizetype first = 0;
    while (first < bytes.size() && (quint8(bytes.at(first)) & 0xC0) == 0x80)
        ++first;
    return QString::fromUtf8(bytes.constData() + first, bytes.size() - first);
}

void DiagLog::flush() { writer().flush(); }

} // namespace corvane::stores
