#include "platform/dispatch.h"
#include "platform/linux/remindersicalendar.h"
#include "support/testenv.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QThread>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// A reader of our own, apart from the product's, so the file is checked against RFC 5545
// and not against the code that wrote it.
struct Property {
    QString name;
    QString params;
    QString value;
};

QString unescape(const QString& v)
{
    QString out;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == u'\\' && i + 1 < v.size()) {
            const QChar n = v[++i];
            out += (n == u'n' || n == u'N') ? QChar(u'\n') : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

QList<Property> readProperties(const QByteArray& data)
{
    QByteArray unfolded = data;
    unfolded.replace("\r\n ", "").replace("\r\n\t", "");
    EXPECT_TRUE(unfolded.endsWith("\r\n"));
    QList<Property> props;
    for (const QByteArray& raw : unfolded.split('\n')) {
        if (raw.isEmpty())
            continue;
        EXPECT_TRUE(raw.endsWith('\r')) << "a line ends without CRLF: " << raw.toStdString();
        const QString line = QString::fromUtf8(raw.chopped(1));
        EXPECT_FALSE(line.contains(u'\r')) << line.toStdString();
        const qsizetype colon = line.indexOf(u':');
        const qsizetype semi = line.indexOf(u';');
        Property p;
        const qsizetype nameEnd = (semi >= 0 && semi < colon) ? semi : colon;
        p.name = line.left(nameEnd);
        p.params = nameEnd == colon ? QString() : line.mid(semi + 1, colon - semi - 1);
        p.value = line.mid(colon + 1);
        props.append(p);
    }
    return props;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

void expectFoldedWithin75Octets(const QByteArray& data)
{
    for (const QByteArray& physical : data.split('\n')) {
        const QByteArray line = physical.endsWith('\r') ? physical.chopped(1) : physical;
        EXPECT_LE(line.size(), 75) << line.toStdString();
        QStringDecoder decoder(QStringDecoder::Utf8);
        (void)QString(decoder.decode(line));
        EXPECT_FALSE(decoder.hasError()) << "a UTF-8 sequence was cut: " << line.toStdString();
    }
}

QStringList values(const QList<Property>& props, const QString& name)
{
    QStringList out;
    for (const Property& p : props)
        if (p.name == name)
            out << p.value;
    return out;
}

QString reminderPath()
{
    return testenv::home() + QStringLiteral("/Library/Nuvarel/reminders.ics");
}

Reminder reminderTitled(const QString& title, const QDateTime& at = QDateTime(QDate(2024, 3, 1), QTime(9, 0), QTimeZone::utc()))
{
    Reminder r;
    r.listIdentifier = RemindersICalendar::kDefaultListIdentifier;
    r.title = title;
    r.dueDate = at;
    r.alarms = {at};
    return r;
}

class RemindersFile : public ::testing::Test {
protected:
    void SetUp() override { QDir().mkpath(testenv::home() + QStringLiteral("/Library/Nuvarel")); }
    RemindersICalendar store{reminderPath()};
};

}  // namespace

TEST_F(RemindersFile, ClipTextStaysOneSummaryWhateverItHolds)
{
    struct Case {
        const char* what;
        QString text;
        QString readBack;  // line breaks come back as "\n"
    };
    const QString longChinese = QString(QStringLiteral("提醒我把这段很长的剪贴板文字记下来，")).repeated(8);
    const std::vector<Case> cases = {
        {"plain", QStringLiteral("买牛奶"), QStringLiteral("买牛奶")},
        {"separators", QStringLiteral("a,b;c\\d"), QStringLiteral("a,b;c\\d")},
        {"injection", QStringLiteral("x\r\nEND:VTODO\r\nBEGIN:VEVENT\r\nSUMMARY:evil"),
         QStringLiteral("x\nEND:VTODO\nBEGIN:VEVENT\nSUMMARY:evil")},
        {"bare line breaks", QStringLiteral("one\ntwo\rthree"), QStringLiteral("one\ntwo\nthree")},
        {"control characters", QStringLiteral("a\x01" "b\x7f" "c\td"), QStringLiteral("abc\td")},
        {"long Chinese text", longChinese, longChinese},
        {"emoji at fold points", QString(QStringLiteral("😀")).repeated(60), QString(QStringLiteral("😀")).repeated(60)},
        {"colon and escaped-looking text", QStringLiteral("URL:http://x \\n"), QStringLiteral("URL:http://x \\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(reminderPath());
        ASSERT_TRUE(store.saveReminder(reminderTitled(c.text)).saved);
        const QByteArray data = readFile(reminderPath());
        expectFoldedWithin75Octets(data);
        const QList<Property> props = readProperties(data);
        EXPECT_EQ(values(props, QStringLiteral("BEGIN")),
                  QStringList({QStringLiteral("VCALENDAR"), QStringLiteral("VTODO"), QStringLiteral("VALARM")}));
        EXPECT_EQ(values(props, QStringLiteral("END")),
                  QStringList({QStringLiteral("VALARM"), QStringLiteral("VTODO"), QStringLiteral("VCALENDAR")}));
        const QStringList summaries = values(props, QStringLiteral("SUMMARY"));
        ASSERT_EQ(summaries.size(), 1);
        EXPECT_EQ(unescape(summaries.first()), c.readBack);
        const QStringList descriptions = values(props, QStringLiteral("DESCRIPTION"));
        ASSERT_EQ(descriptions.size(), 1);
        EXPECT_EQ(unescape(descriptions.first()), c.readBack);
        // The product's own reader agrees.
        const auto todos = RemindersICalendar::readTodos(reminderPath());
        ASSERT_TRUE(todos);
        ASSERT_EQ(todos->size(), 1);
        EXPECT_EQ(todos->first().summary, c.readBack);
    }
}

TEST_F(RemindersFile, WritesUrlDueDateAndAbsoluteAlarmInUtc)
{
    Reminder r = reminderTitled(QStringLiteral("https://example.com/a b?q=1,2;3"));
    r.url = QUrl(QStringLiteral("https://example.com/a b?q=1,2;3"));
    r.dueDate = QDateTime(QDate(2024, 1, 31), QTime(23, 50), QTimeZone(8 * 3600));
    r.alarms = {r.dueDate};
    ASSERT_TRUE(store.saveReminder(r).saved);

    const QList<Property> props = readProperties(readFile(reminderPath()));
    EXPECT_EQ(values(props, QStringLiteral("URL")), QStringList(QStringLiteral("https://example.com/a%20b?q=1,2;3")));
    EXPECT_EQ(values(props, QStringLiteral("DUE")), QStringList(QStringLiteral("20240131T155000Z")));
    EXPECT_EQ(values(props, QStringLiteral("ACTION")), QStringList(QStringLiteral("DISPLAY")));
    bool trigger = false;
    for (const Property& p : props)
        if (p.name == QStringLiteral("TRIGGER")) {
            trigger = true;
            EXPECT_EQ(p.params, QStringLiteral("VALUE=DATE-TIME"));
            EXPECT_EQ(p.value, QStringLiteral("20240131T155000Z"));
        }
    EXPECT_TRUE(trigger);

    const auto todos = RemindersICalendar::readTodos(reminderPath());
    ASSERT_TRUE(todos);
    ASSERT_EQ(todos->size(), 1);
    EXPECT_EQ(todos->first().url, r.url);
    ASSERT_EQ(todos->first().alarms.size(), 1);
    EXPECT_EQ(todos->first().alarms.first(), r.dueDate);
}

TEST_F(RemindersFile, KeepsEarlierItemsAndForeignLinesAcrossSaves)
{
    // A calendar another program wrote first, lower-case END included.
    const QByteArray foreign = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\nX-OTHER;A=1:kept\r\n"
                               "BEGIN:VTODO\r\nUID:old-1\r\nSUMMARY:older item\r\nEND:VTODO\r\nend:VCALENDAR\r\n";
    {
        QFile f(reminderPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(foreign);
    }
    ASSERT_TRUE(store.saveReminder(reminderTitled(QStringLiteral("first"))).saved);
    RemindersICalendar another(reminderPath());
    ASSERT_TRUE(another.saveReminder(reminderTitled(QStringLiteral("second"))).saved);

    const QByteArray data = readFile(reminderPath());
    EXPECT_TRUE(data.startsWith(foreign.left(foreign.indexOf("end:VCALENDAR"))));
    const QList<Property> props = readProperties(data);
    EXPECT_EQ(values(props, QStringLiteral("SUMMARY")),
              QStringList({QStringLiteral("older item"), QStringLiteral("first"), QStringLiteral("second")}));
    EXPECT_EQ(values(props, QStringLiteral("X-OTHER")), QStringList(QStringLiteral("kept")));
    const QStringList uids = values(props, QStringLiteral("UID"));
    ASSERT_EQ(uids.size(), 3);
    EXPECT_NE(uids[1], uids[2]);
    EXPECT_EQ(props.last().value, QStringLiteral("VCALENDAR"));
}

TEST_F(RemindersFile, SavesFromManyThreadsAtOnceAreAllKept)
{
    constexpr int kThreads = 6;
    constexpr int kEach = 5;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failures] {
            RemindersICalendar own(reminderPath());
            for (int i = 0; i < kEach; ++i)
                if (!own.saveReminder(reminderTitled(QStringLiteral("t%1-%2").arg(t).arg(i))).saved)
                    ++failures;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    const auto todos = RemindersICalendar::readTodos(reminderPath());
    ASSERT_TRUE(todos);
    EXPECT_EQ(todos->size(), kThreads * kEach);
}

TEST_F(RemindersFile, FileThatIsNotACalendarIsLeftAsItIs)
{
    for (const QByteArray& content : {QByteArray("not a calendar at all\n"),
                                      QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:cut short\r\n")}) {
        {
            QFile f(reminderPath());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(content);
        }
        const ReminderSaveResult result = store.saveReminder(reminderTitled(QStringLiteral("x")));
        EXPECT_FALSE(result.saved);
        EXPECT_FALSE(result.error.isEmpty());
        EXPECT_EQ(readFile(reminderPath()), content);
        EXPECT_FALSE(RemindersICalendar::readTodos(reminderPath()));
    }
}

TEST_F(RemindersFile, NewFileIsPrivateToTheUser)
{
    ASSERT_TRUE(store.saveReminder(reminderTitled(QStringLiteral("secret text"))).saved);
    EXPECT_EQ(QFile::permissions(reminderPath()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
}

TEST(RemindersStore, AccessDefaultListAndRefusedSaves)
{
    RemindersICalendar store(reminderPath());
    std::atomic<bool> done{false};
    std::atomic<bool> granted{false};
    std::atomic<bool> calledOnMain{true};
    store.requestAccessToReminders([&](bool ok, const QString&) {
        granted = ok;
        calledOnMain = dispatch::isMainThread();
        done = true;
    });
    ASSERT_TRUE(testenv::waitUntil([&] { return done.load(); }));
    EXPECT_TRUE(granted);
    EXPECT_FALSE(calledOnMain);

    const auto list = store.defaultListForNewReminders();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->identifier, RemindersICalendar::kDefaultListIdentifier);

    Reminder elsewhere = reminderTitled(QStringLiteral("x"));
    elsewhere.listIdentifier = QStringLiteral("someone-elses");
    EXPECT_FALSE(store.saveReminder(elsewhere).saved);
    Reminder badAlarm = reminderTitled(QStringLiteral("x"));
    badAlarm.alarms = {QDateTime()};
    EXPECT_FALSE(store.saveReminder(badAlarm).saved);
    EXPECT_FALSE(QFile::exists(reminderPath()));

    RemindersICalendar nowhere{QString()};
    EXPECT_FALSE(nowhere.defaultListForNewReminders());
    EXPECT_FALSE(nowhere.saveReminder(reminderTitled(QStringLiteral("x"))).saved);
}

TEST(RemindersStore, CreateUsesTheInstalledFactory)
{
    Reminders::setFactory(nullptr);
    EXPECT_FALSE(Reminders::create()->defaultListForNewReminders());
    Reminders::setFactory([] { return std::make_shared<RemindersICalendar>(reminderPath()); });
    auto store = Reminders::create();
    EXPECT_TRUE(store->defaultListForNewReminders());
    EXPECT_NE(store, Reminders::create());  // a new store each time
    Reminders::setFactory(nullptr);
}
