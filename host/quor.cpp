// Value store and tables of the host environment, as our own in-process code.
//
// Stores live for the whole process: every open of a name returns the same
// store, and quorClose leaves it (and the handles other threads hold) valid.
// Each store has its own mutex; watchers are called after the lock is released.
#include "host/quor.h"

#include "host/ascii.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct QuorTable {
    int columns = 0;
    std::vector<std::string> headings;
    std::vector<std::vector<std::string>> rows; // each row holds `columns` cells
};

namespace {

struct Field {
    int type = QUOR_NONE;
    std::string text;
    long number = 0;
    std::shared_ptr<const QuorTable> table;
};

// A watcher stays alive while a notification runs. No lock is held during a
// call; instead `callers` lists the threads inside one, and quorUnwatch waits
// until no other thread is (its own call may unwatch itself).
struct Watcher {
    QuorWatchFn fn = nullptr;
    void* ctx = nullptr;
    bool active = true;
    std::vector<std::thread::id> callers;
};

} // namespace

struct QuorStore {
    std::mutex lock;
    std::map<std::string, Field, std::less<>> fields;
    std::vector<std::shared_ptr<Watcher>> watchers;
    std::condition_variable callDone; // a watcher call ended (with `lock`)
};

namespace {

// The named stores. Never destroyed: the exit handler and a thread that
// outlives main may still use a store while static objects are torn down.
struct StoreList {
    std::mutex lock;
    std::map<std::string, std::unique_ptr<QuorStore>, std::less<>> byName;
};

StoreList& Stores() {
    static StoreList* const list = new StoreList;
    return *list;
}

// Copies text into buf, cut to size - 1 bytes and always terminated. Returns the
// number of bytes copied, -1 when there is no room at all.
int CopyBounded(std::string_view text, char* buf, int size) {
    if (!buf || size <= 0)
        return -1;
    std::size_t n = text.size();
    if (n > static_cast<std::size_t>(size) - 1)
        n = static_cast<std::size_t>(size) - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
    return static_cast<int>(n);
}

// The lookup key of the find calls: the first `length` bytes of text, ending
// early at a NUL (cells never contain one); a negative length means up to NUL.
bool LookupKey(const char* text, int length, std::string_view& key) {
    if (!text)
        return false;
    if (length < 0) {
        key = text;
        return true;
    }
    const void* nul = std::memchr(text, '\0', static_cast<std::size_t>(length));
    key =
        std::string_view(text, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text)
                                   : static_cast<std::size_t>(length));
    return true;
}

int FindRow(const QuorTable& table, std::string_view key, bool ignoreCase) {
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const std::string& cell = table.rows[r][0];
        if (ignoreCase ? zav::EqualIgnoringCase(cell, key) : cell == key)
            return static_cast<int>(r);
    }
    return -1;
}

// Splits a NUL-separated list of `length` bytes into cells. Each cell ends at a
// NUL or at the end of the text; empty cells at the end (the list terminator)
// are dropped. Fails when more than `columns` cells remain.
bool SplitCells(const char* text, int length, int columns, std::vector<std::string>& cells) {
    cells.assign(static_cast<std::size_t>(columns), std::string());
    if (length == 0)
        return true;
    if (!text || length < 0)
        return false;
    std::vector<std::string> parts;
    std::size_t pos = 0;
    const std::size_t end = static_cast<std::size_t>(length);
    while (pos < end) {
        const void* nul = std::memchr(text + pos, '\0', end - pos);
        std::size_t stop =
            nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : end;
        parts.emplace_back(text + pos, stop - pos);
        pos = stop + 1;
    }
    while (!parts.empty() && parts.back().empty())
        parts.pop_back();
    if (parts.size() > cells.size())
        return false;
    for (std::size_t i = 0; i < parts.size(); ++i)
        cells[i] = std::move(parts[i]);
    return true;
}

bool ValidName(const char* name) {
    return name && *name;
}

HQUOR OpenStore(const char* name) {
    if (!ValidName(name))
        return nullptr;
    StoreList& stores = Stores();
    std::lock_guard<std::mutex> guard(stores.lock);
    auto it = stores.byName.find(std::string_view(name));
    if (it == stores.byName.end())
        it = stores.byName.emplace(name, std::make_unique<QuorStore>()).first;
    return it->second.get();
}

// Runs the store's watchers for a changed field. Called without the store lock.
void Notify(HQUOR store, const char* field) {
    std::vector<std::shared_ptr<Watcher>> watchers;
    {
        std::lock_guard<std::mutex> guard(store->lock);
        watchers = store->watchers;
    }
    const std::thread::id self = std::this_thread::get_id();
    for (const auto& w : watchers) {
        {
            std::lock_guard<std::mutex> guard(store->lock);
            if (!w->active)
                continue;
            w->callers.push_back(self);
        }
        w->fn(w->ctx, store, field);
        {
            std::lock_guard<std::mutex> guard(store->lock);
            auto it = std::find(w->callers.begin(), w->callers.end(), self);
            w->callers.erase(it);
        }
        store->callDone.notify_all();
    }
}

// Replaces a field's value under the lock, then tells the watchers.
template <typename Change> int ChangeField(HQUOR store, const char* field, Change change) {
    if (!store || !ValidName(field))
        return -1;
    {
        std::lock_guard<std::mutex> guard(store->lock);
        change(store->fields[field]);
    }
    Notify(store, field);
    return 0;
}

// Runs read(field) under the lock when the field exists, else returns fallback.
template <typename Read, typename Result>
Result ReadField(HQUOR store, const char* field, Result fallback, Read read) {
    if (!store || !ValidName(field))
        return fallback;
    std::lock_guard<std::mutex> guard(store->lock);
    auto it = store->fields.find(std::string_view(field));
    if (it == store->fields.end())
        return fallback;
    return read(it->second);
}

long ParseLong(const char* s) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-')
        negative = *s++ == '-';
    // Accumulate as unsigned and saturate where atol would be undefined.
    constexpr unsigned long kMax = static_cast<unsigned long>(std::numeric_limits<long>::max());
    const unsigned long limit = negative ? kMax + 1 : kMax;
    unsigned long value = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        unsigned long digit = static_cast<unsigned long>(*s - '0');
        if (value > (limit - digit) / 10) {
            value = limit;
            break;
        }
        value = value * 10 + digit;
    }
    if (!negative)
        return static_cast<long>(value);
    return value == kMax + 1 ? std::numeric_limits<long>::min() : -static_cast<long>(value);
}

} // namespace

HQUOR quorOpen(const char* name) {
    return OpenStore(name);
}

HQUOR quorOpenShared(const char* name) {
    return OpenStore(name);
}

void quorClose(HQUOR) {
    // Stores are kept for the process: another open of the name, or another
    // thread, may still use the same store.
}

int quorGetString(HQUOR store, const char* field, char* buf, int size) {
    if (buf && size > 0)
        buf[0] = '\0';
    return ReadField(store, field, -1, [&](const Field& f) {
        if (f.type == QUOR_TEXT)
            return CopyBounded(f.text, buf, size);
        if (f.type == QUOR_NUMBER) {
            char digits[32];
            int n = std::snprintf(digits, sizeof digits, "%ld", f.number);
            return CopyBounded(std::string_view(digits, static_cast<std::size_t>(n)), buf, size);
        }
        return -1;
    });
}

int quorSetString(HQUOR store, const char* field, const char* text) {
    if (!text)
        return -1;
    return ChangeField(store, field, [&](Field& f) {
        f = Field();
        f.type = QUOR_TEXT;
        f.text = text;
    });
}

int quorSetItem(HQUOR store, const char* field, int reserved1, int reserved2) {
    if (reserved1 != 0 || reserved2 != 0)
        return -1;
    return ChangeField(store, field, [](Field& f) { f = Field(); });
}

int quorSetNumeric(HQUOR store, const char* field, long value) {
    return ChangeField(store, field, [&](Field& f) {
        f = Field();
        f.type = QUOR_NUMBER;
        f.number = value;
    });
}

long quorGetNumeric(HQUOR store, const char* field) {
    return ReadField(store, field, 0L, [](const Field& f) {
        if (f.type == QUOR_NUMBER)
            return f.number;
        if (f.type == QUOR_TEXT)
            return ParseLong(f.text.c_str());
        return 0L;
    });
}

int quorGetType(HQUOR store, const char* field) {
    return ReadField(store, field, static_cast<int>(QUOR_NONE),
                     [](const Field& f) { return f.type; });
}

int quorSetTable(HQUOR store, const char* field, HTABLE table) {
    if (!table)
        return -1;
    auto copy = std::make_shared<const QuorTable>(*table);
    return ChangeField(store, field, [&](Field& f) {
        f = Field();
        f.type = QUOR_TABLE;
        f.table = std::move(copy);
    });
}

namespace {

// Runs read(table) under the lock when the field holds a table, else fallback.
template <typename Read> int ReadTable(HQUOR store, const char* field, int fallback, Read read) {
    return ReadField(store, field, fallback, [&](const Field& f) {
        return f.type == QUOR_TABLE && f.table ? read(*f.table) : fallback;
    });
}

int GetCell(const QuorTable& table, int row, int column, char* buf, int size) {
    if (row < 0 || static_cast<std::size_t>(row) >= table.rows.size() || column < 0 ||
        column >= table.columns)
        return -1;
    return CopyBounded(table.rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)],
                       buf, size);
}

int GetHeading(const QuorTable& table, int column, char* buf, int size) {
    if (column < 0 || column >= table.columns)
        return -1;
    return CopyBounded(table.headings[static_cast<std::size_t>(column)], buf, size);
}

} // namespace

int quorTableRowCount(HQUOR store, const char* field) {
    return ReadTable(store, field, -1,
                     [](const QuorTable& t) { return static_cast<int>(t.rows.size()); });
}

int quorTableColumnCount(HQUOR store, const char* field) {
    return ReadTable(store, field, -1, [](const QuorTable& t) { return t.columns; });
}

int quorTableGetRow(HQUOR store, const char* field, int row, char* buf, int size) {
    return quorTableGetField(store, field, row, 0, buf, size);
}

int quorTableGetField(HQUOR store, const char* field, int row, int column, char* buf, int size) {
    if (buf && size > 0)
        buf[0] = '\0';
    return ReadTable(store, field, -1,
                     [&](const QuorTable& t) { return GetCell(t, row, column, buf, size); });
}

int quorTableFindField(HQUOR store, const char* field, const char* text, int length, int, int) {
    std::string_view key;
    if (!LookupKey(text, length, key))
        return -1;
    return ReadTable(store, field, -1, [&](const QuorTable& t) { return FindRow(t, key, false); });
}

int quorWatch(HQUOR store, QuorWatchFn fn, void* ctx) {
    if (!store || !fn)
        return -1;
    std::lock_guard<std::mutex> guard(store->lock);
    for (const auto& w : store->watchers) {
        if (w->fn == fn && w->ctx == ctx)
            return 0;
    }
    auto w = std::make_shared<Watcher>();
    w->fn = fn;
    w->ctx = ctx;
    store->watchers.push_back(std::move(w));
    return 0;
}

int quorUnwatch(HQUOR store, QuorWatchFn fn, void* ctx) {
    if (!store || !fn)
        return -1;
    std::unique_lock<std::mutex> guard(store->lock);
    auto it = std::find_if(store->watchers.begin(), store->watchers.end(),
                           [&](const auto& w) { return w->fn == fn && w->ctx == ctx; });
    if (it == store->watchers.end())
        return -1;
    std::shared_ptr<Watcher> removed = *it;
    removed->active = false;
    store->watchers.erase(it);
    // A call running on another thread finishes before ctx may go.
    const std::thread::id self = std::this_thread::get_id();
    store->callDone.wait(guard, [&] {
        return std::all_of(removed->callers.begin(), removed->callers.end(),
                           [&](std::thread::id id) { return id == self; });
    });
    return 0;
}

HTABLE tableCreate(int columns, int) {
    if (columns < 1 || columns > kTableMaxColumns)
        return nullptr;
    auto* table = new QuorTable;
    table->columns = columns;
    table->headings.assign(static_cast<std::size_t>(columns), std::string());
    return table;
}

int tableSetRow(HTABLE table, int code, const char* text, int length) {
    if (!table)
        return -1;
    std::vector<std::string> cells;
    if (!SplitCells(text, length, table->columns, cells))
        return -1;
    if (code == TABLE_ROW_HEADING) {
        table->headings = std::move(cells);
        return 0;
    }
    if (code == TABLE_ROW_APPEND) {
        table->rows.push_back(std::move(cells));
        return static_cast<int>(table->rows.size()) - 1;
    }
    if (code >= 0 && static_cast<std::size_t>(code) < table->rows.size()) {
        table->rows[static_cast<std::size_t>(code)] = std::move(cells);
        return code;
    }
    return -1;
}

int tableRowCount(HTABLE table) {
    return table ? static_cast<int>(table->rows.size()) : -1;
}

int tableColumnCount(HTABLE table) {
    return table ? table->columns : -1;
}

void tableDestroy(HTABLE table) {
    delete table;
}

int tableFindAbbrev(HTABLE table, const char* text, int length, int, int) {
    std::string_view key;
    if (!table || !LookupKey(text, length, key))
        return -1;
    return FindRow(*table, key, true);
}

int tableSetField(HTABLE table, int row, int column, const char* text) {
    if (!table || !text || row < 0 || static_cast<std::size_t>(row) >= table->rows.size() ||
        column < 0 || column >= table->columns)
        return -1;
    table->rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
    return 0;
}

int tableGetField(HTABLE table, int row, int column, char* buf, int size) {
    if (buf && size > 0)
        buf[0] = '\0';
    if (!table)
        return -1;
    return GetCell(*table, row, column, buf, size);
}

int tableGetHeading(HTABLE table, int column, char* buf, int size) {
    if (buf && size > 0)
        buf[0] = '\0';
    return table ? GetHeading(*table, column, buf, size) : -1;
}

int quorTableGetHeading(HQUOR store, const char* field, int column, char* buf, int size) {
    if (buf && size > 0)
        buf[0] = '\0';
    return ReadTable(store, field, -1,
                     [&](const QuorTable& t) { return GetHeading(t, column, buf, size); });
}
