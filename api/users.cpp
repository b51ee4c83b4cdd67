// The user sessions of a terminal server: who is logged on, in which
// session, since when, idle since when, and from which client. One server
// handle serves the whole list: the level-1 enumeration names each
// session's user where the platform has it, and each user session is then
// asked for its client and its times.
#include <cstdlib>
#include <cstring>

#include "api/bound.h"
#include "api/lists.h"
#include "api/server.h"
#include "api/sessionbuffer.h"
#include "api/sessionquery.h"
#include "api/textform.h"
#include "include/velquor.h"
#include "support/errors.h"

namespace {

const char kExport[] = "QRVTS_EnumerateUsers";
const char kEnumerateFailed[] = "WTSEnumerateSessions@X() : QRVTS_EnumerateUsers$()";
const char kListFailed[] = "xAllocPrintf() {returned NULL pointer} : QRVTS_EnumerateUsers$()";
const char kBlockFailed[] = "calloc() {returned NULL pointer} : QRVTS_EnumerateUsers$()";
const int kLists = 10;

// The texts of one session, all made before any is appended.
struct UserTexts {
    char* name = nullptr;
    char* user = nullptr;
    char* domain = nullptr;
    char* client = nullptr;
    char* address = nullptr;
    char* logon = nullptr;
    char* input = nullptr;
    char* current = nullptr;
    char** const all[8] = {&name, &user, &domain, &client, &address, &logon, &input, &current};

    ~UserTexts()
    {
        for (char** text : all)
            free(*text);
    }
    bool Made() const
    {
        for (char* const* text : all)
            if (!*text)
                return false;
        return true;
    }
};

struct UserLists {
    ListText lists[kLists] = {};
    ListText* all[kLists];
    UserLists()
    {
        for (int i = 0; i < kLists; ++i)
            all[i] = &lists[i];
    }
    ~UserLists() { xReleaseLists(all, kLists); }

    // The items in the order of the record's lists.
    bool Append(DWORD id, DWORD state, const UserTexts& t)
    {
        const char* const items[kLists - 1] = {t.name, xStateWord(state), t.user,  t.domain, t.client,
                                               t.address, t.logon,        t.input, t.current};
        if (!xListAppendNumber(&lists[0], id))
            return false;
        for (int i = 0; i < kLists - 1; ++i)
            if (!xListAppendText(&lists[i + 1], items[i]))
                return false;
        return true;
    }
    bool Finish()
    {
        for (ListText* list : all)
            if (!xListFinish(list))
                return false;
        return true;
    }
};

template <class Char>
int Units(const Char* text)
{
    int n = 0;
    while (text && text[n])
        ++n;
    return n;
}

// The text of a class, or the one the enumeration gave (`given`, when not null).
template <class Char>
void TextOf(SessionAsker<Char>& ask, int infoClass, const Char* given, char** out)
{
    if (given) {
        TextForm<Char>::Copy(out, given, Units(given));
        return;
    }
    ask.Ask(infoClass, [&](const Answer<Char>& a) { TextForm<Char>::Copy(out, a.data, a.TextLength()); });
}

// Adds one session when a user is logged on to it; false when memory ran out.
template <class Char>
bool AddSession(SessionAsker<Char>& ask, const Char* name, DWORD state, const Char* user, const Char* domain,
                UserLists* lists)
{
    UserTexts t;
    TextOf(ask, WTSUserName, user, &t.user);
    if (!t.user)
        return false;
    if (!t.user[0])
        return true;  // no one is logged on to it
    TextOf(ask, WTSDomainName, domain, &t.domain);
    TextOf<Char>(ask, WTSClientName, nullptr, &t.client);
    ask.Ask(WTSClientAddress,
            [&](const Answer<Char>& a) { xAddressText(a.template Holding<TsClientAddress>(), &t.address); });
    SessionTimes times;
    ask.Times(&times);
    xTimeText(times.logon, &t.logon);
    xTimeText(times.LastInput(), &t.input);
    xTimeText(times.current, &t.current);
    TextForm<Char>::Copy(&t.name, name, Units(name));
    return t.Made() && lists->Append(ask.session, state, t);
}

template <class Char>
bool BuildLists(const SessionBuffer<Char>& records, HANDLE handle, UserLists* lists, DWORD* count)
{
    *count = 0;
    for (DWORD i = 0; i < records.count; ++i) {
        const bool level1 = records.level1 != nullptr;
        const DWORD id = level1 ? records.level1[i].SessionId : records.basic[i].SessionId;
        SessionAsker<Char> ask{records.bound, handle, id, kExport};
        const size_t before = lists->lists[0].length;
        const bool added =
            level1 ? AddSession(ask, records.level1[i].pSessionName, records.level1[i].State,
                                records.level1[i].pUserName, records.level1[i].pDomainName, lists)
                   : AddSession<Char>(ask, records.basic[i].pWinStationName, records.basic[i].State, nullptr,
                                      nullptr, lists);
        if (!added)
            return false;
        *count += lists->lists[0].length != before;
    }
    return lists->Finish();
}

template <class Char>
LONG EnumerateUsers(LPCSTR serverName, UserListRecord** users)
{
    ExportCall call;
    if (!users || *users)
        return QRVTS_INVALID_PARAMETER;
    const BindingTable& bound = call.Bound();
    const TextEntryPoints<Char>& entries = xEntriesOf<Char>(bound.Entry);
    if (!xServesForm<Char>(bound, entries.EnumerateSessions) || !entries.QuerySessionInformation ||
        !bound.Entry.WTSFreeMemory)
        return QRVTS_NOT_AVAILABLE;
    // The places live beyond the body: its failure is recorded after it.
    const Place<Char> enumerateFailed(kEnumerateFailed), listFailed(kListFailed), blockFailed(kBlockFailed);
    return xOnServer<Char>(serverName, [&](HANDLE handle) {
        SessionBuffer<Char> records{bound.Entry};
        if (!records.Enumerate(handle, TRUE))  // level-1 names the users
            return xRefused(enumerateFailed, QRVTS_ENUM_SESSIONS_FAILED);
        UserLists lists;
        DWORD count = 0;
        if (!BuildLists(records, handle, &lists, &count))
            return xNoMemory(listFailed);
        UserListRecord* block =
            static_cast<UserListRecord*>(calloc(sizeof(UserListRecord) + xListsBytes(lists.all, kLists), 1));
        if (!block)
            return xNoMemory(blockFailed);
        block->Count = count;
        LPSTR* const pointers[kLists] = {&block->SessionIds,  &block->SessionNames,    &block->SessionStates,
                                         &block->UserNames,   &block->DomainNames,     &block->ClientNames,
                                         &block->ClientAddresses, &block->LogonTimes,  &block->LastInputTimes,
                                         &block->CurrentTimes};
        xPackLists(reinterpret_cast<char*>(block), sizeof(UserListRecord), lists.all, kLists, pointers);
        *users = block;
        return xSucceeded();
    });
}

}  // namespace

extern "C" LONG QRVTS_CALL QRVTS_EnumerateUsers(LPCSTR serverName, UserListRecord** users)
{
    return EnumerateUsers<char>(serverName, users);
}

extern "C" LONG QRVTS_CALL QRVTS_EnumerateUsersUtf8(LPCSTR serverName, UserListRecord** users)
{
    return EnumerateUsers<WCHAR>(serverName, users);
}
