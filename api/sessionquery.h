// Asking the platform about one session: the information classes, their
// answers, and the window station's times, shared by the session query and
// the list of user sessions.
#pragma once
#include <windows.h>

#include <cstring>

#include "api/bound.h"
#include "api/textform.h"
#include "api/tsplatform.h"
#include "support/errors.h"


// The name of an information class in the place text of its refusal.
const char* xInfoClassName(int infoClass);

// The client's address as text ("10.0.0.7", "*UNSPEC*" and so on); the
// empty text for no answer.
void xAddressText(const TsClientAddress* address, char** out);

// A FILETIME as UTC text "YYYY:MM:DD:hh:mm:ss"; zero, or a value the
// conversion refuses, is the empty text.
void xTimeText(ULONGLONG value, char** out);

// The platform's answer for one class: its buffer and the size it reported.
template <class Char>
struct Answer {
    Char* data;
    DWORD bytes;

    // The buffer when it holds at least `size` bytes, else null: a value is
    // never read past what the platform said it wrote.
    template <class T>
    const T* Holding() const
    {
        return data && bytes >= sizeof(T) ? reinterpret_cast<const T*>(data) : nullptr;
    }
    // The text's length in characters within the reported size.
    int TextLength() const
    {
        DWORD n = 0;
        while (data && n < bytes / sizeof(Char) && data[n])
            ++n;
        return int(n);
    }
};

// The window station's times of a session; 0 where none is known.
struct SessionTimes {
    ULONGLONG connect, disconnect, lastInput, logon, current;
    // The last input, or the disconnection when no input is known.
    ULONGLONG LastInput() const { return lastInput ? lastInput : disconnect; }
};

// Asks the platform about `session` on `handle` through the entry points of
// form Char; each refusal is recorded with the place text of the export
// named `exportName` (without its suffix).
template <class Char>
struct SessionAsker {
    const BoundEntryPoints& bound;
    HANDLE handle;
    DWORD session;
    const char* exportName;

    // Calls `use` with the platform's answer; a refusal answers nothing.
    template <class Use>
    void Ask(int infoClass, Use use)
    {
        Char* buffer = nullptr;
        DWORD bytes = 0;
        const BOOL answered =
            xEntriesOf<Char>(bound).QuerySessionInformation(handle, session, WTS_INFO_CLASS(infoClass), &buffer, &bytes);
        if (!answered)
            xRecordLastError(GetLastError(), Place<Char>("WTSQuerySessionInformation@X() {#} : &$()",
                                                         xInfoClassName(infoClass), exportName));
        use(answered ? Answer<Char>{buffer, bytes} : Answer<Char>{nullptr, 0});
        // A refusal may still hand a buffer back: it is released all the same.
        if (buffer)
            bound.WTSFreeMemory(buffer);
    }

    // The times from one window-station query; all 0 when it is refused or
    // the window-station library is not there.
    void Times(SessionTimes* times)
    {
        BYTE info[sizeof(WINSTATIONINFORMATIONW)];
        memset(info, 0, sizeof info);
        ULONG returned = 0;
        if (bound.WinStationQueryInformationW &&
            !bound.WinStationQueryInformationW(handle, session, WinStationInformation, info,
                                               ULONG(sizeof(WINSTATIONINFORMATIONW)), &returned)) {
            xRecordLastError(GetLastError(),
                             Place<Char>("WinStationInformationWX() {session times} : &$()", "", exportName));
            memset(info, 0, sizeof info);
        }
        const size_t offsets[5] = {WINSTATION_CONNECT_TIME_OFFSET, WINSTATION_DISCONNECT_TIME_OFFSET, WINSTATION_LAST_INPUT_TIME_OFFSET,
                                   WINSTATION_LOGON_TIME_OFFSET, WINSTATION_CURRENT_TIME_OFFSET};
        ULONGLONG* fields[5] = {&times->connect, &times->disconnect, &times->lastInput, &times->logon,
                                &times->current};
        for (int i = 0; i < 5; ++i)
            memcpy(fields[i], info + offsets[i], sizeof(ULONGLONG));
    }
};
