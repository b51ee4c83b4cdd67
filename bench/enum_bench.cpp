// The session and process enumerations over generated servers of growing
// size: time per entry, against the literal way of building the lists
// (appending with xAllocPrintf, each append copying the whole list) and
// against a floor that only formats the same items into one buffer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "include/velquor.h"
#include "sim/inprocess.h"
#include "support/format.h"

namespace {

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

// Best of a few runs of `work`, in seconds.
template <class Work>
double Best(Work work, int runs = 3)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        double start = Now();
        work();
        double took = Now() - start;
        best = took < best ? took : best;
    }
    return best;
}

// The ANSI exports, or (`utf8`) their UTF-8 twins on the wide entry points.
void EnumerateSessions(bool utf8 = false)
{
    SessionListRecord* block = nullptr;
    if ((utf8 ? QRVTS_EnumerateSessionsUtf8 : QRVTS_EnumerateSessions)("", FALSE, &block) != QRVTS_OK)
        abort();
    QRVTS_FreeBuffer(block);
}

void EnumerateProcesses(bool utf8 = false)
{
    ProcessListRecord* block = nullptr;
    if ((utf8 ? QRVTS_EnumerateProcessesUtf8 : QRVTS_EnumerateProcesses)("", 0xFFFFFFFF, FALSE, &block) != QRVTS_OK)
        abort();
    QRVTS_FreeBuffer(block);
}

// The literal way: every append formats the whole list again.
void AppendingProcesses(DWORD n)
{
    char* lists[4] = {nullptr, nullptr, nullptr, nullptr};
    char sid[] = "S-1-5-21-1004336348-1177238915-682003330-1104";
    char name[32];
    for (DWORD i = 0; i < n; ++i) {
        snprintf(name, sizeof name, "process-%lu.exe", i);
        xAllocPrintf(&lists[0], "%s%lu%c", lists[0] ? lists[0] : "", 4 + 4 * i, '\t');
        xAllocPrintf(&lists[1], "%s%s%c", lists[1] ? lists[1] : "", name, '\t');
        xAllocPrintf(&lists[2], "%s%lu%c", lists[2] ? lists[2] : "", i % Server.sessionsOfProcesses, '\t');
        xAllocPrintf(&lists[3], "%s%s%c", lists[3] ? lists[3] : "", sid, '\t');
    }
    for (char* list : lists)
        free(list);
}

void AppendingSessions(DWORD n)
{
    char* lists[3] = {nullptr, nullptr, nullptr};
    char name[32];
    for (DWORD i = 0; i < n; ++i) {
        snprintf(name, sizeof name, "RDP-Tcp#%lu", i);
        xAllocPrintf(&lists[0], "%s%lu%c", lists[0] ? lists[0] : "", i, '\t');
        xAllocPrintf(&lists[1], "%s%s%c", lists[1] ? lists[1] : "", name, '\t');
        xAllocPrintf(&lists[2], "%s%s%c", lists[2] ? lists[2] : "", "DISCONNECTED", '\t');
    }
    for (char* list : lists)
        free(list);
}

// The floor: the same items formatted once into one preallocated buffer.
void FloorProcesses(DWORD n, std::vector<char>& buffer)
{
    char* at = buffer.data();
    for (DWORD i = 0; i < n; ++i)
        at += sprintf(at, "%lu\tprocess-%lu.exe\t%lu\tS-1-5-21-1004336348-1177238915-682003330-1104\t", 4 + 4 * i, i,
                      i % Server.sessionsOfProcesses);
}

void FloorSessions(DWORD n, std::vector<char>& buffer)
{
    char* at = buffer.data();
    for (DWORD i = 0; i < n; ++i)
        at += sprintf(at, "%lu\tRDP-Tcp#%lu\tDISCONNECTED\t", i, i);
}

const double kAppendingLimit = 3.0;  // seconds one appending run may take

// The figures for the picture of the cost (`--data FILE`): kind, entries,
// microseconds per entry for the library and for the literal way.
FILE* data = nullptr;

void Row(const char* what, DWORD n, double took, double floor, double appending)
{
    if (data)
        fprintf(data, "%s %lu %.4f %s\n", what, n, took / n * 1e6,
                appending > 0 ? std::to_string(appending / n * 1e6).c_str() : "NaN");
    printf("%-10s %7lu  %8.3f us/entry  floor x%5.2f", what, n, took / n * 1e6, took / floor);
    if (appending > 0)
        printf("  appending x%7.2f", appending / took);
    else
        printf("  appending (not run)");
    printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && strcmp(argv[1], "--data") == 0)
        data = fopen(argv[2], "w");
    xBindInProcessServer();
    std::vector<char> buffer(100000 * 96);
    printf("enumerations of a generated server, best of 3 (appending: the literal way, run while under %.0f s)\n",
           kAppendingLimit);
    double appendingTook = 0;
    for (DWORD n : {100u, 300u, 1000u, 3000u, 10000u}) {
        Server = InProcessServer();
        Server.sessions = n;
        double took = Best([] { EnumerateSessions(); });
        double floor = Best([&] { FloorSessions(n, buffer); });
        double appending = 0;
        if (appendingTook < kAppendingLimit / 10) {
            appending = Best([&] { AppendingSessions(n); }, 1);
            appendingTook = appending;
        }
        Row("sessions", n, took, floor, appending);
    }
    appendingTook = 0;
    for (DWORD n : {100u, 300u, 1000u, 3000u, 10000u, 30000u, 100000u}) {
        Server = InProcessServer();
        Server.processes = n;
        Server.sessionsOfProcesses = 50;
        double took = Best([] { EnumerateProcesses(); });
        double floor = Best([&] { FloorProcesses(n, buffer); });
        double appending = 0;
        if (appendingTook < kAppendingLimit / 10) {
            appending = Best([&] { AppendingProcesses(n); }, 1);
            appendingTook = appending;
        }
        Row("processes", n, took, floor, appending);
    }
    Server = InProcessServer();
    Server.processes = 10000;
    double allSids = Best([] { EnumerateProcesses(); });
    Server.withoutSid = 9000;
    double mostWithout = Best([] { EnumerateProcesses(); });
    printf("10000 processes, 9000 without SID: %.2f ms; every SID present: %.2f ms; ratio %.2f\n",
           mostWithout * 1e3, allSids * 1e3, mostWithout / allSids);
    // The UTF-8 twins convert every name from the wide entry points' texts:
    // their cost per entry against the ANSI exports', on the same names.
    for (const char* kind : {"sessions", "processes"}) {
        const bool sessions = kind[0] == 's';
        Server = InProcessServer();
        (sessions ? Server.sessions : Server.processes) = 10000;
        Server.sessionsOfProcesses = 50;
        auto run = [&](bool utf8) { sessions ? EnumerateSessions(utf8) : EnumerateProcesses(utf8); };
        const double ansi = Best([&] { run(false); }, 5), utf8 = Best([&] { run(true); }, 5);
        printf("10000 %-9s UTF-8 %.3f us/entry, ANSI %.3f us/entry: UTF-8 costs x%.2f\n", kind, utf8 / 1e4 * 1e6,
               ansi / 1e4 * 1e6, utf8 / ansi);
    }
    if (data)
        fclose(data);
    return 0;
}
