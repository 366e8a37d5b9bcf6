#include "StoresFixture.h"
#include "stores/OptimizationLogger.h"
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <memory>

using namespace corvane::stores;
using Status = OptimizationLog::LogStatus;

namespace {

class OptimizationLoggerTest : public test::StoresTest {
protected:
    std::unique_ptr<OptimizationLogger> start() { return std::make_unique<OptimizationLogger>(prefs, clock); }
};

QString repeat(const QString& unit, int n) {
    QString out;
    for (int i = 0; i < n; ++i)
        out += unit;
    return out;
}

TEST(LogStatusTest, StoredValuesAndLabels) {
    const struct {
        Status status;
        const char* raw;
        const char* label;
    } rows[] = {{Status::Triggered, "触发", "Triggered"}, {Status::Optimizing, "优化中", "Optimizing"},
                {Status::Completed, "完成", "Completed"},  {Status::Failed, "失败", "Failed"},
                {Status::Replaced, "已替换", "Replaced"},   {Status::Cancelled, "已取消", "Cancelled"}};
    ASSERT_EQ(OptimizationLog::allStatuses().size(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(OptimizationLog::allStatuses()[i], rows[i].status);
        EXPECT_EQ(OptimizationLog::rawValue(rows[i].status).toUtf8(), QByteArray(rows[i].raw));
        EXPECT_EQ(OptimizationLog::statusFromRawValue(QString::fromUtf8(rows[i].raw)), rows[i].status);
        EXPECT_EQ(OptimizationLog::displayName(rows[i].status), QString::fromLatin1(rows[i].label));
    }
    EXPECT_FALSE(OptimizationLog::statusFromRawValue(QStringLiteral("Triggered")));
    EXPECT_FALSE(OptimizationLog::statusFromRawValue(QString()));
}

TEST_F(OptimizationLoggerTest, StoredRecordShape) {
    auto log = start();
    EXPECT_TRUE(keys().isEmpty()) << "a fresh start writes nothing";
    clock.setNow(QDateTime(QDate(2001, 1, 1), QTime(0, 0, 1, 250), Qt::UTC));
    log->log(Status::Failed, QStringLiteral("in"), std::nullopt, QStringLiteral("HTTP 500"), QStringLiteral("Make Concise"));

    const QByteArray bytes = stored("optimization_logs");
    const QString id = log->entries().first().id.toString(QUuid::WithoutBraces).toUpper();
    EXPECT_EQ(bytes, "[{\"id\":\"" + id.toUtf8() +
                         "\",\"timestamp\":1.25,\"status\":\"失败\",\"originalPreview\":\"in\","
                         "\"detail\":\"HTTP 500\",\"recipeName\":\"Make Concise\"}]");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")).match(id).hasMatch());
}

TEST_F(OptimizationLoggerTest, TimestampsAreSecondsSince2001) {
    struct Case {
        QDateTime at;
        const char* json;
    };
    const Case cases[] = {
        {QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC), "\"timestamp\":0,"},
        {QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 500), Qt::UTC), "\"timestamp\":-0.5,"},
        {QDateTime(QDate(2026, 1, 15), QTime(9, 30, 0, 125), Qt::UTC), "\"timestamp\":790162200.125,"},
    };
    for (const Case& c : cases) {
        prefs.clear();
        clock.setNow(c.at);
        auto log = start();
        log->log(Status::Triggered, QStringLiteral("x"));
        EXPECT_TRUE(stored("optimization_logs").contains(c.json)) << stored("optimization_logs").toStdString();
        EXPECT_EQ(start()->entries().first().timestamp, c.at);
    }
}

TEST_F(OptimizationLoggerTest, OptionalFieldsAreLeftOutNotNull) {
    auto log = start();
    log->log(Status::Completed, QStringLiteral("a"), QString());
    log->log(Status::Triggered, QStringLiteral("b"), std::nullopt, std::nullopt, std::nullopt, QStringLiteral("ctx"));
    const QJsonArray records = array(stored("optimization_logs"));
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[0].toObject().keys(),
              (QStringList{QStringLiteral("context"), QStringLiteral("id"), QStringLiteral("originalPreview"),
                           QStringLiteral("status"), QStringLiteral("timestamp")}));
    EXPECT_TRUE(records[1].toObject().contains(QStringLiteral("optimizedPreview"))) << "an empty string is kept";
    EXPECT_FALSE(stored("optimization_logs").contains("null"));

    const auto again = start();
    ASSERT_EQ(again->entries().size(), 2);
    EXPECT_EQ(again->entries(), log->entries());
    EXPECT_EQ(again->entries()[1].optimizedPreview, QString());
    EXPECT_FALSE(again->entries()[0].detail.has_value());
}

TEST_F(OptimizationLoggerTest, PreviewsKeepTheFirst80CharactersDetailStaysWhole) {
    const QString family = QString::fromUtf8("👨‍👩‍👧‍👦");
    const QString accent = QString::fromUtf8("a\u0301");
    struct Case {
        const char* name;
        QString text;
        QString preview;
    };
    const Case cases[] = {
        {"80 ascii", repeat(QStringLiteral("a"), 80), repeat(QStringLiteral("a"), 80)},
        {"81 ascii", repeat(QStringLiteral("a"), 81), repeat(QStringLiteral("a"), 80)},
        {"emoji at the edge", repeat(QStringLiteral("a"), 79) + family + QStringLiteral("b"),
         repeat(QStringLiteral("a"), 79) + family},
        {"combining marks", repeat(accent, 81), repeat(accent, 80)},
        {"cjk", repeat(QString::fromUtf8("漢"), 100), repeat(QString::fromUtf8("漢"), 80)},
        {"white space kept", QStringLiteral("  line one\n\tline two  "), QStringLiteral("  line one\n\tline two  ")},
    };
    auto log = start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log->log(Status::Completed, c.text, c.text, c.text);
        const OptimizationLog& e = log->entries().first();
        EXPECT_EQ(e.originalPreview, c.preview);
        EXPECT_EQ(e.optimizedPreview, c.preview);
        EXPECT_EQ(e.detail, c.text);
    }
}

TEST_F(OptimizationLoggerTest, KeepsTheNewest200) {
    auto log = start();
    QSignalSpy changed(log.get(), &OptimizationLogger::entriesChanged);
    for (int i = 0; i < 201; ++i)
        log->log(Status::Triggered, QString::number(i));
    EXPECT_EQ(changed.size(), 201);
    ASSERT_EQ(log->entries().size(), 200);
    EXPECT_EQ(log->entries().first().originalPreview, QStringLiteral("200"));
    EXPECT_EQ(log->entries().last().originalPreview, QStringLiteral("1"));
    EXPECT_EQ(array(stored("optimization_logs")).size(), 200);
}

TEST_F(OptimizationLoggerTest, AnOverlongStoredListIsShownWholeUntilTheNextLog) {
    {
        auto log = start();
        for (int i = 0; i < 200; ++i)
            log->log(Status::Triggered, QString::number(i));
    }
    // Another writer appended records beyond the cap.
    QByteArray bytes = stored("optimization_logs");
    const QJsonArray records = array(bytes);
    bytes.chop(1);
    for (int i = 0; i < 5; ++i)
        bytes += ',' + QJsonDocument(records[i].toObject()).toJson(QJsonDocument::Compact);
    bytes += ']';
    store("optimization_logs", bytes);

    auto log = start();
    EXPECT_EQ(log->entries().size(), 205);
    log->log(Status::Cancelled, QStringLiteral("new"));
    EXPECT_EQ(log->entries().size(), 200);
    EXPECT_EQ(log->entries()[1].originalPreview, QStringLiteral("199"));
    EXPECT_EQ(stored("optimization_logs"), OptimizationLog::listToJson(log->entries()))
        << "only the new record is encoded, yet the stored list is the whole list";
}

// Preferences that count the pushes to storage.
class SyncCountingPreferences final : public corvane::platform::Preferences {
public:
    bool contains(const QString& key) const override { return m_values.contains(key); }
    std::optional<QVariant> value(const QString& key) const override {
        return m_values.contains(key) ? std::optional<QVariant>(m_values.value(key)) : std::nullopt;
    }
    void setValue(const QString& key, const QVariant& value) override { m_values.insert(key, value); }
    void remove(const QString& key) override { m_values.remove(key); }
    QStringList keys() const override { return m_values.keys(); }
    void sync() override { ++syncs; }
    int syncs = 0;

private:
    QMap<QString, QVariant> m_values;
};

TEST_F(OptimizationLoggerTest, RecordsReachStorageOncePerTurnAndBeforeTheLoggerGoes) {
    SyncCountingPreferences disk;
    auto log = std::make_unique<OptimizationLogger>(disk, clock);
    log->log(Status::Triggered, QStringLiteral("a"));
    log->log(Status::Failed, QStringLiteral("a"));
    log->clearAll();
    log->log(Status::Cancelled, QStringLiteral("b"));
    EXPECT_EQ(disk.syncs, 0) << "pushed at the end of the turn";
    EXPECT_EQ(disk.bytes(QStringLiteral("optimization_logs")), OptimizationLog::listToJson(log->entries()));
    QCoreApplication::sendPostedEvents(log.get());
    EXPECT_EQ(disk.syncs, 1) << "one push for the whole turn";
    QCoreApplication::sendPostedEvents(log.get());
    EXPECT_EQ(disk.syncs, 1) << "nothing left to push";

    log->log(Status::Completed, QStringLiteral("c"));
    log->flush();
    EXPECT_EQ(disk.syncs, 2) << "flush pushes at once";
    QCoreApplication::sendPostedEvents(log.get());
    EXPECT_EQ(disk.syncs, 2);

    log->log(Status::Replaced, QStringLiteral("c"));
    log.reset();
    EXPECT_EQ(disk.syncs, 3) << "a record logged just before the end is not lost";
}

TEST_F(OptimizationLoggerTest, ClearAllStoresAnEmptyArray) {
    auto log = start();
    log->log(Status::Replaced, QStringLiteral("x"));
    log->clearAll();
    EXPECT_TRUE(log->entries().isEmpty());
    EXPECT_EQ(stored("optimization_logs"), "[]");
    EXPECT_TRUE(start()->entries().isEmpty());
}

TEST_F(OptimizationLoggerTest, ReadingIsAllOrNothing) {
    const char* good = R"({"id":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","timestamp":1,"status":"完成","originalPreview":"x"})";
    struct Case {
        const char* name;
        QByteArray record;
        bool readable;
    };
    const Case cases[] = {
        {"good", good, true},
        {"lower-case uuid",
         R"({"id":"6f9619ff-8b86-d011-b42d-00cf4fc964ff","timestamp":1,"status":"完成","originalPreview":"x"})", true},
        {"braced uuid",
         R"({"id":"{6F9619FF-8B86-D011-B42D-00CF4FC964FF}","timestamp":1,"status":"完成","originalPreview":"x"})",
         false},
        {"unknown status",
         R"({"id":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","timestamp":1,"status":"done","originalPreview":"x"})", false},
        {"timestamp as text",
         R"({"id":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","timestamp":"1","status":"完成","originalPreview":"x"})",
         false},
        {"no preview", R"({"id":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","timestamp":1,"status":"完成"})", false},
        {"detail not text",
         R"({"id":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","timestamp":1,"status":"完成","originalPreview":"x","detail":5})",
         false},
        {"absurd date",
         R"({"id":"6F9619FF-8B86-D011-B42D-00CF4FC964FF","timestamp":1e300,"status":"完成","originalPreview":"x"})",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray list = QByteArray("[") + good + "," + c.record + "]";
        const auto decoded = OptimizationLog::listFromJson(list);
        EXPECT_EQ(decoded.has_value(), c.readable);
        if (decoded) {
            EXPECT_EQ(decoded->size(), 2);
        }
    }
}

} // namespace
