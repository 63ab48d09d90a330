// Value store and tables of the host environment (the QUOR32 interface).
//
// A store is a named collection of fields; a field holds a text, a number or a
// table. Stores are opened by name; every open of the same name reaches the
// same fields. All operations are safe to call from several threads at once
// (the dialog thread and the capture thread both write "_Status").
//
// Tables have a fixed number of columns, a heading per column and rows of text
// cells. The row text of tableSetRow is a NUL-separated list of the cells.
//
// Stores are kept for the whole process: quorClose never invalidates a handle.
// Results: 0 (or a row index) for success, -1 for failure. Every call that fills
// a buffer writes at most `size` bytes, always NUL-terminated when size > 0 (an
// empty text on failure), and returns the length copied.
//
// Lookups (tableFindAbbrev, quorTableFindField) match the whole cell text of
// column 0, never a prefix of it: "com1" does not find "Com10". Their key is the
// first `length` bytes of text, ending early at a NUL; a negative length means
// the whole NUL-terminated text.
#pragma once

struct QuorStore;
struct QuorTable;
using HQUOR = QuorStore*;  // 0 means failure
using HTABLE = QuorTable*; // 0 means failure

enum QuorType : int {
    QUOR_NONE = 0, // the field holds no value
    QUOR_TEXT = 1,
    QUOR_NUMBER = 2,
    QUOR_TABLE = 3,
};

// tableSetRow row codes.
enum : int {
    TABLE_ROW_APPEND = -4,  // append a row
    TABLE_ROW_HEADING = -5, // set the column headings
};

inline constexpr int kTableMaxColumns = 64;

HQUOR quorOpen(const char* name);
HQUOR quorOpenShared(const char* name);
void quorClose(HQUOR store);

// Copies the field's text (a number is formatted in decimal) into buf, always
// NUL-terminated within size. Returns the length copied, -1 when the field holds
// no text or number.
int quorGetString(HQUOR store, const char* field, char* buf, int size);
int quorSetString(HQUOR store, const char* field, const char* text);
// Empties the field (the two numbers are reserved and must be 0).
int quorSetItem(HQUOR store, const char* field, int reserved1, int reserved2);
int quorSetNumeric(HQUOR store, const char* field, long value);
// The field as an integer: a number as is, a text read like atol, else 0.
long quorGetNumeric(HQUOR store, const char* field);
int quorGetType(HQUOR store, const char* field);

// Stores a copy of the table; the caller still owns and destroys its table.
int quorSetTable(HQUOR store, const char* field, HTABLE table);
// Row and column counts, -1 when the field holds no table.
int quorTableRowCount(HQUOR store, const char* field);
int quorTableColumnCount(HQUOR store, const char* field);
int quorTableGetHeading(HQUOR store, const char* field, int column, char* buf, int size);
// Text of column 0 of the row.
int quorTableGetRow(HQUOR store, const char* field, int row, char* buf, int size);
int quorTableGetField(HQUOR store, const char* field, int row, int column, char* buf, int size);
// Row whose column 0 equals the first `length` bytes of text, -1 if none.
int quorTableFindField(HQUOR store, const char* field, const char* text, int length, int reserved1,
                       int reserved2);

// Change notification: fn(ctx, store, field) runs after a field of the store
// changed, on the thread that changed it, outside the store's lock. Watching
// the same (fn, ctx) twice registers it once. quorUnwatch returns only after a
// call of that watcher running on another thread has finished, so ctx may be
// freed afterwards; a watcher may unwatch itself. A watcher must therefore not
// wait for the thread that unwatches it (post a window message, don't send one).
using QuorWatchFn = void (*)(void* ctx, HQUOR store, const char* field);
int quorWatch(HQUOR store, QuorWatchFn fn, void* ctx);
int quorUnwatch(HQUOR store, QuorWatchFn fn, void* ctx);

// A table handle belongs to one thread at a time (the one that builds it).
// tableCreate: 1 to kTableMaxColumns columns.
HTABLE tableCreate(int columns, int reserved);
// text: `length` bytes of NUL-separated cells; "Com3" with length 5 is one
// cell, "Port1\0Description\0\0" with length 19 two (empty cells at the end
// are the list's terminator). Missing cells are empty; more cells than columns
// are refused. code TABLE_ROW_APPEND returns the new row's index,
// TABLE_ROW_HEADING returns 0, a code >= 0 replaces that existing row.
int tableSetRow(HTABLE table, int code, const char* text, int length);
int tableRowCount(HTABLE table);
int tableColumnCount(HTABLE table);
void tableDestroy(HTABLE table);
// Row whose column 0 equals text without regard to letter case, -1 if none.
int tableFindAbbrev(HTABLE table, const char* text, int length, int reserved1, int reserved2);
int tableSetField(HTABLE table, int row, int column, const char* text);
int tableGetField(HTABLE table, int row, int column, char* buf, int size);
int tableGetHeading(HTABLE table, int column, char* buf, int size);
