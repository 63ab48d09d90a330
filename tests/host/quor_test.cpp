// Value store and tables: fields, bounded copies, tables, lookups, threads and
// change notification.
#include "host/quor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

// Stores live for the process; every test uses its own store name.
HQUOR Open(const char* name) {
    HQUOR store = quorOpen(name);
    EXPECT_NE(store, nullptr);
    return store;
}

TEST(QuorStore, OpensOfOneNameShareTheFields) {
    HQUOR a = Open("test:share");
    HQUOR b = quorOpenShared("test:share");
    ASSERT_EQ(a, b);
    EXPECT_NE(quorOpen("test:other"), a);
    EXPECT_EQ(quorOpen(""), nullptr);
    EXPECT_EQ(quorOpen(nullptr), nullptr);

    ASSERT_EQ(quorSetString(a, "CaptureFolder", "C:\\Captures"), 0);
    quorClose(a);
    char buf[64];
    EXPECT_EQ(quorGetString(b, "CaptureFolder", buf, sizeof buf), 11);
    EXPECT_STREQ(buf, "C:\\Captures");
}

TEST(QuorStore, FieldTypesAndConversions) {
    HQUOR s = Open("test:types");
    char buf[32] = "junk";
    EXPECT_EQ(quorGetType(s, "Missing"), QUOR_NONE);
    EXPECT_EQ(quorGetString(s, "Missing", buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(quorGetNumeric(s, "Missing"), 0);

    // The check box stores "1"/"0" as text; the capture reads it as a number.
    quorSetString(s, "SingleFile", "1");
    EXPECT_EQ(quorGetType(s, "SingleFile"), QUOR_TEXT);
    EXPECT_EQ(quorGetNumeric(s, "SingleFile"), 1);
    quorSetString(s, "Text", "  -42abc");
    EXPECT_EQ(quorGetNumeric(s, "Text"), -42);
    quorSetString(s, "Text", "abc");
    EXPECT_EQ(quorGetNumeric(s, "Text"), 0);
    quorSetString(s, "Text", "99999999999999999999999");
    EXPECT_EQ(quorGetNumeric(s, "Text"), std::numeric_limits<long>::max());
    quorSetString(s, "Text", "-99999999999999999999999");
    EXPECT_EQ(quorGetNumeric(s, "Text"), std::numeric_limits<long>::min());

    quorSetNumeric(s, "Count", -1234);
    EXPECT_EQ(quorGetType(s, "Count"), QUOR_NUMBER);
    EXPECT_EQ(quorGetString(s, "Count", buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "-1234");

    EXPECT_EQ(quorSetItem(s, "Count", 1, 0), -1);
    EXPECT_EQ(quorGetType(s, "Count"), QUOR_NUMBER);
    EXPECT_EQ(quorSetItem(s, "Count", 0, 0), 0);
    EXPECT_EQ(quorGetType(s, "Count"), QUOR_NONE);
    EXPECT_EQ(quorGetString(s, "Count", buf, sizeof buf), -1);

    EXPECT_EQ(quorSetString(s, "Text", nullptr), -1);
    EXPECT_EQ(quorSetString(s, "", "x"), -1);
    EXPECT_EQ(quorSetString(nullptr, "Text", "x"), -1);
}

TEST(QuorStore, GetStringNeverWritesPastSize) {
    HQUOR s = Open("test:bounded");
    quorSetString(s, "Long", "0123456789");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(quorGetString(s, "Long", buf, 4), 3);
    EXPECT_STREQ(buf, "012");
    EXPECT_EQ(buf[4], '#');
    EXPECT_EQ(quorGetString(s, "Long", buf, 1), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], '1');
    EXPECT_EQ(quorGetString(s, "Long", buf, 0), -1);
    EXPECT_EQ(quorGetString(s, "Long", nullptr, 8), -1);
    quorSetNumeric(s, "Number", 123456789);
    EXPECT_EQ(quorGetString(s, "Number", buf, 4), 3);
    EXPECT_STREQ(buf, "123");
}

// The cable table of the cable search and the port table of the port list.
TEST(QuorTable, RowsHeadingsAndCells) {
    HTABLE cables = tableCreate(1, 0);
    ASSERT_NE(cables, nullptr);
    EXPECT_EQ(tableSetRow(cables, TABLE_ROW_HEADING, "Port1", 6), 0);
    EXPECT_EQ(tableSetRow(cables, TABLE_ROW_APPEND, "Com3", 5), 0);
    EXPECT_EQ(tableSetRow(cables, TABLE_ROW_APPEND, "Com12", 6), 1);
    EXPECT_EQ(tableRowCount(cables), 2);
    char buf[32];
    EXPECT_EQ(tableGetHeading(cables, 0, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "Port1");
    EXPECT_EQ(tableGetField(cables, 1, 0, buf, sizeof buf), 5);
    EXPECT_STREQ(buf, "Com12");
    // A second cell does not fit a one-column table.
    EXPECT_EQ(tableSetRow(cables, TABLE_ROW_APPEND, "Com4\0Extra", 11), -1);
    EXPECT_EQ(tableRowCount(cables), 2);
    tableDestroy(cables);

    HTABLE ports = tableCreate(2, 0);
    ASSERT_NE(ports, nullptr);
    EXPECT_EQ(tableSetRow(ports, TABLE_ROW_APPEND, "Com1", 5), 0);
    EXPECT_EQ(tableSetRow(ports, TABLE_ROW_APPEND, "Com10", 6), 1);
    EXPECT_EQ(tableSetRow(ports, TABLE_ROW_HEADING, "Port1\0Description\0", 19), 0);
    EXPECT_EQ(tableGetHeading(ports, 1, buf, sizeof buf), 11);
    EXPECT_STREQ(buf, "Description");
    EXPECT_EQ(tableGetField(ports, 0, 1, buf, sizeof buf), 0);
    EXPECT_EQ(tableSetField(ports, 1, 1, "ZAV Print"), 0);
    EXPECT_EQ(tableSetField(ports, 2, 1, "x"), -1);
    EXPECT_EQ(tableSetField(ports, 0, 2, "x"), -1);
    EXPECT_EQ(tableGetField(ports, 1, 1, buf, sizeof buf), 9);
    EXPECT_STREQ(buf, "ZAV Print");
    EXPECT_EQ(tableGetField(ports, -1, 0, buf, sizeof buf), -1);
    EXPECT_STREQ(buf, "");
    // Only `length` bytes are read: a row without its NUL still works.
    const char unterminated[4] = {'C', 'o', 'm', '7'};
    EXPECT_EQ(tableSetRow(ports, TABLE_ROW_APPEND, unterminated, 4), 2);
    EXPECT_EQ(tableGetField(ports, 2, 0, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "Com7");

    EXPECT_EQ(tableCreate(0, 0), nullptr);
    EXPECT_EQ(tableCreate(kTableMaxColumns + 1, 0), nullptr);
    tableDestroy(ports);
}

TEST(QuorTable, LookupsMatchTheWholeCell) {
    HTABLE t = tableCreate(2, 0);
    tableSetRow(t, TABLE_ROW_APPEND, "Com10", 6);
    tableSetRow(t, TABLE_ROW_APPEND, "Com2", 5);
    // The port list looks up "com%d" in lower case.
    EXPECT_EQ(tableFindAbbrev(t, "com2", 4, 0, 0), 1);
    EXPECT_EQ(tableFindAbbrev(t, "COM10", 5, 0, 0), 0);
    EXPECT_EQ(tableFindAbbrev(t, "com1", 4, 0, 0), -1);
    EXPECT_EQ(tableFindAbbrev(t, "com10", 3, 0, 0), -1);
    EXPECT_EQ(tableFindAbbrev(t, "com2", -1, 0, 0), 1);

    HQUOR s = Open("test:find");
    ASSERT_EQ(quorSetTable(s, "Ports", t), 0);
    tableDestroy(t); // the store keeps its own copy
    EXPECT_EQ(quorGetType(s, "Ports"), QUOR_TABLE);
    EXPECT_EQ(quorTableRowCount(s, "Ports"), 2);
    EXPECT_EQ(quorTableColumnCount(s, "Ports"), 2);
    // Exact case, whole cell, `length` bytes of the registry text.
    EXPECT_EQ(quorTableFindField(s, "Ports", "Com2", 4, 0, 0), 1);
    EXPECT_EQ(quorTableFindField(s, "Ports", "com2", 4, 0, 0), -1);
    EXPECT_EQ(quorTableFindField(s, "Ports", "Com1", 4, 0, 0), -1);
    EXPECT_EQ(quorTableFindField(s, "Ports", "Com10xyz", 5, 0, 0), 0);
    EXPECT_EQ(quorTableFindField(s, "Missing", "Com2", 4, 0, 0), -1);
    EXPECT_EQ(quorTableRowCount(s, "Missing"), -1);

    char row[260];
    EXPECT_EQ(quorTableGetRow(s, "Ports", 0, row, sizeof row), 5);
    EXPECT_STREQ(row, "Com10");
    EXPECT_EQ(quorTableGetRow(s, "Ports", 2, row, sizeof row), -1);
    // A table field has no text.
    EXPECT_EQ(quorGetString(s, "Ports", row, sizeof row), -1);
}

struct Seen {
    std::atomic<int> calls{0};
    std::atomic<std::thread::id> thread{};
    std::string lastField;
};

void Record(void* ctx, HQUOR, const char* field) {
    auto* seen = static_cast<Seen*>(ctx);
    seen->lastField = field;
    seen->thread = std::this_thread::get_id();
    ++seen->calls;
}

TEST(QuorWatch, NotifiesOnTheChangingThreadOutsideTheLock) {
    HQUOR s = Open("test:watch");
    Seen seen;
    ASSERT_EQ(quorWatch(s, Record, &seen), 0);
    ASSERT_EQ(quorWatch(s, Record, &seen), 0); // once only
    quorSetString(s, "_Status", "Waiting for printout");
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.lastField, "_Status");
    EXPECT_EQ(seen.thread.load(), std::this_thread::get_id());

    std::thread::id worker;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        quorSetNumeric(s, "Count", 3);
    });
    t.join();
    EXPECT_EQ(seen.calls, 2);
    EXPECT_EQ(seen.thread.load(), worker);

    HTABLE table = tableCreate(1, 0);
    quorSetTable(s, "ports", table);
    tableDestroy(table);
    quorSetItem(s, "Count", 0, 0);
    EXPECT_EQ(seen.calls, 4);

    EXPECT_EQ(quorUnwatch(s, Record, &seen), 0);
    EXPECT_EQ(quorUnwatch(s, Record, &seen), -1);
    quorSetString(s, "_Status", "");
    EXPECT_EQ(seen.calls, 4);
}

// A watcher that reads the store back (as the dialog engine does) must not
// deadlock, and may unwatch itself.
struct ReadBack {
    HQUOR store;
    char text[64];
    int calls = 0;
};

void ReadAndLeave(void* ctx, HQUOR store, const char* field) {
    auto* r = static_cast<ReadBack*>(ctx);
    quorGetString(store, field, r->text, sizeof r->text);
    ++r->calls;
    quorUnwatch(store, ReadAndLeave, ctx);
}

TEST(QuorWatch, WatcherMayReadTheStoreAndUnwatchItself) {
    HQUOR s = Open("test:readback");
    ReadBack r{s, {}, 0};
    quorWatch(s, ReadAndLeave, &r);
    quorSetString(s, "_Status", "Reading (12)");
    EXPECT_STREQ(r.text, "Reading (12)");
    quorSetString(s, "_Status", "again");
    EXPECT_EQ(r.calls, 1);
}

void Count(void* ctx, HQUOR, const char*) {
    ++*static_cast<std::atomic<int>*>(ctx);
}

TEST(QuorStore, ConcurrentWritersAndWatchers) {
    HQUOR s = Open("test:threads");
    std::atomic<int> calls{0};
    quorWatch(s, Count, &calls);
    constexpr int kWrites = 2000;
    auto writer = [s](const char* prefix) {
        char text[32];
        for (int i = 0; i < kWrites; ++i) {
            std::snprintf(text, sizeof text, "%s %d", prefix, i);
            quorSetString(s, "_Status", text);
            quorSetNumeric(s, prefix, i);
        }
    };
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        char buf[32];
        while (!stop) {
            if (quorGetString(s, "_Status", buf, sizeof buf) >= 0) {
                EXPECT_TRUE(std::strncmp(buf, "capture ", 8) == 0 ||
                            std::strncmp(buf, "dialog ", 7) == 0)
                    << buf;
            }
        }
    });
    std::thread a(writer, "capture");
    std::thread b(writer, "dialog");
    a.join();
    b.join();
    stop = true;
    reader.join();
    EXPECT_EQ(quorGetNumeric(s, "capture"), kWrites - 1);
    EXPECT_EQ(quorGetNumeric(s, "dialog"), kWrites - 1);
    EXPECT_EQ(calls, 4 * kWrites);
    quorUnwatch(s, Count, &calls);
}

// Watchers run outside the store's lock: they may write the store themselves,
// on two threads at once.
void Echo(void* ctx, HQUOR store, const char* field) {
    if (std::strcmp(field, "_Status") == 0)
        quorSetNumeric(store, static_cast<const char*>(ctx), 1);
}

TEST(QuorWatch, WatchersThatWriteDoNotDeadlock) {
    HQUOR s = Open("test:echo");
    char first[] = "EchoA";
    char second[] = "EchoB";
    quorWatch(s, Echo, first);
    quorWatch(s, Echo, second);
    std::atomic<int> ready{0};
    auto writer = [&] {
        ++ready;
        while (ready < 2)
            std::this_thread::yield();
        for (int i = 0; i < 2000; ++i)
            quorSetString(s, "_Status", "x");
    };
    std::thread a(writer);
    std::thread b(writer);
    a.join();
    b.join();
    EXPECT_EQ(quorGetNumeric(s, "EchoA"), 1);
    EXPECT_EQ(quorGetNumeric(s, "EchoB"), 1);
    quorUnwatch(s, Echo, first);
    quorUnwatch(s, Echo, second);
}

// quorUnwatch waits for a call in progress on another thread, so the watcher's
// context may be freed as soon as it returns.
struct Slow {
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
};

void SlowWatcher(void* ctx, HQUOR, const char*) {
    auto* slow = static_cast<Slow*>(ctx);
    slow->entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    slow->finished = true;
}

TEST(QuorWatch, UnwatchWaitsForACallInProgress) {
    HQUOR s = Open("test:unwatch");
    Slow slow;
    quorWatch(s, SlowWatcher, &slow);
    std::thread t([s] { quorSetString(s, "_Status", "x"); });
    while (!slow.entered)
        std::this_thread::yield();
    EXPECT_EQ(quorUnwatch(s, SlowWatcher, &slow), 0);
    EXPECT_TRUE(slow.finished);
    t.join();
}

} // namespace
