// The binding tables: made on first use or by the interpreter's
// initialisation, published whole, and released only once no call holds them.
#include "api/bound.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "include/velquor.h"
#include "support/errors.h"
#include "support/process.h"

namespace {

struct TableRecord {
    BindingTable table;
    TableRecord* nextRetired;
};

// The published table (null when nothing is bound), the calls holding a
// table, and the tables replaced since no call was holding one. Both lists
// change only under the library's lock.
std::atomic<TableRecord*> Published{nullptr};
std::atomic<long> Holders{0};
std::atomic<TableRecord*> Retired{nullptr};

const BindingTable kNothingBound = {};
const char kNoLibrary[] = "Unable to initialize Velquor: Unable to load WTSAPI32.DLL";
const char kNoMemory[] = "Unable to initialize Velquor: Out of memory";

TableRecord* NewRecord() { return static_cast<TableRecord*>(calloc(1, sizeof(TableRecord))); }

TableRecord* NewBinding()
{
    TableRecord* record = NewRecord();
    if (record)
        record->table.Result = xRunBindingSequence(&record->table);
    return record;
}

void Dispose(TableRecord* list)
{
    while (list) {
        TableRecord* next = list->nextRetired;
        xReleaseLibraries(list->table.Libraries);
        free(list);
        list = next;
    }
}

// Under the lock.
void Retire(TableRecord* record)
{
    if (!record)
        return;
    record->nextRetired = Retired.load();
    Retired.store(record);
}

// Under the lock.
void Publish(TableRecord* record) { Retire(Published.exchange(record)); }

// Gives the retired tables back when no call holds a table. A call that
// starts after the check under the lock can only find the published table,
// which is never on the list.
void ReleaseRetiredWhenIdle()
{
    TableRecord* list = nullptr;
    {
        ProcessLock lock;
        if (Holders.load() == 0)
            list = Retired.exchange(nullptr);
    }
    Dispose(list);
}

TableRecord* BindOnFirstUse()
{
    ProcessLock lock;
    TableRecord* record = Published.load();
    if (!record) {
        record = NewBinding();
        Published.store(record);
    }
    return record;
}

// The same libraries and entry points, flags, result and message.
bool SameBinding(const BindingTable& a, const BindingTable& b) { return memcmp(&a, &b, sizeof a) == 0; }

// A new run replaces the published table unless it found the same (its
// references are then given back) or failed where that one succeeded.
bool KeepsPublished(const TableRecord* published, const BindingTable& found)
{
    return published && (SameBinding(published->table, found) || (published->table.Result >= 0 && found.Result < 0));
}

}  // namespace

int xInitialiseBinding(char* message)
{
    TableRecord* unused = nullptr;
    int result = -1;
    {
        ProcessLock lock;
        TableRecord* record = NewBinding();
        const char* text = record ? record->table.Message : kNoMemory;
        result = record ? record->table.Result : -1;
        if (result < 0 && message)
            lstrcpyA(message, text);
        if (record && KeepsPublished(Published.load(), record->table))
            unused = record;
        else if (record)
            Publish(record);
    }
    Dispose(unused);
    ReleaseRetiredWhenIdle();
    return result;
}

void xTerminateBinding()
{
    {
        ProcessLock lock;
        Retire(Published.exchange(nullptr));
    }
    ReleaseRetiredWhenIdle();
}

void xInstallBinding(const BindingTable& table)
{
    TableRecord* record = NewRecord();
    if (!record)
        return;
    record->table = table;
    record->table.Libraries = LoadedLibraries{};
    {
        ProcessLock lock;
        Publish(record);
    }
    ReleaseRetiredWhenIdle();
}

void xReleaseAllBindings()
{
    TableRecord* list = nullptr;
    {
        ProcessLock lock;
        Retire(Published.exchange(nullptr));
        list = Retired.exchange(nullptr);
    }
    Dispose(list);
}

BindingLease::BindingLease() : table_(nullptr) { Holders.fetch_add(1); }

BindingLease::~BindingLease()
{
    if (Holders.fetch_sub(1) == 1 && Retired.load())
        ReleaseRetiredWhenIdle();
}

const BindingTable& BindingLease::Current()
{
    if (!table_) {
        const TableRecord* record = Published.load();
        table_ = record ? &record->table : nullptr;
    }
    return table_ ? *table_ : kNothingBound;
}

const BindingTable& BindingLease::Bound()
{
    if (!table_) {
        const TableRecord* record = Published.load();
        if (!record)
            record = BindOnFirstUse();
        table_ = record ? &record->table : nullptr;
    }
    return table_ ? *table_ : kNothingBound;
}

namespace {

// The outcome of the binding for one way into the exports: the message
// copied as far as it fits, and QRVTS_OK when that way's exports are bound.
LONG TellBinding(const char* text, bool bound, LPSTR buffer, DWORD size)
{
    if (buffer && size > 0)
        lstrcpynA(buffer, text, int(size));
    return bound ? QRVTS_OK : QRVTS_NOT_AVAILABLE;
}

// What the binding's own message is; a system without the library binds
// without a message of its own.
const char* BindingText(const BindingTable& table)
{
    return table.Message[0] || table.ServicesBound ? table.Message : kNoLibrary;
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_GetBindingMessage(LPSTR buffer, DWORD size)
{
    BindingLease lease;
    const BindingTable& table = lease.Bound();
    // With the ANSI exports bound, a missing wide entry point is named too.
    const char* text = table.ExportsBound && !table.Message[0] ? table.WideMessage : BindingText(table);
    return TellBinding(text, table.ExportsBound, buffer, size);
}

extern "C" LONG QRVTS_CALL QRVTS_GetBindingMessageUtf8(LPSTR buffer, DWORD size)
{
    BindingLease lease;
    const BindingTable& table = lease.Bound();
    const bool bound = table.ExportsBound && table.WideExportsBound;
    const char* text = table.ExportsBound && !table.WideExportsBound ? table.WideMessage : BindingText(table);
    return TellBinding(text, bound, buffer, size);
}
