// zelhost: loads the extender as the interpreter does and calls one of its
// script functions from the command line. Like an interpreter it refuses a
// call with fewer arguments than the function table requires; array
// elements are printed with their names.
//   zelhost [--extender PATH] --list
//   zelhost [--extender PATH] --messages              (every id with a text)
//   zelhost [--extender PATH] FUNCTION [ARG...]     ("" passes an empty text,
//                                                    {pid} this host's process id)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

// What the host knows of each function beyond the table: its arguments'
// names (optional ones in brackets) and its array elements' names.
struct Described {
    const char* name;
    const char* arguments;
    std::vector<const char*> elements;
};

const std::vector<const char*> kSessionInfo = {
    "WinStationName", "ConnectState", "ClientAddress", "ClientName", "ClientProtocolType",
    "ClientHardwareId", "ClientProductId", "ClientBuildNumber", "ClientDirectory", "HorizontalResolution",
    "VerticalResolution", "ColorDepth", "OEMId", "DomainName", "UserName",
    "ApplicationName", "InitialProgram", "WorkingDirectory", "CurrentTime", "LogonTime",
    "LastInputTime", "ConnectTime", "DisconnectTime"};

const Described kDescribed[] = {
    {"wtsversion", "[form]", {"Major", "Minor", "Build", "Revision"}},
    {"wtslasterrmsg", "number", {}},
    {"wtsistsenabled", "[selector]", {}},
    {"wtsprocidtosessid", "processid", {}},
    {"wtsenumsessions", "server [extended]", {"Count", "SessionIds", "SessionNames", "SessionStates"}},
    {"wtsenumprocesses", "server [session [extended]]",
     {"Count", "ProcessIds", "ProcessNames", "SessionIds", "UserSids"}},
    {"wtsdisconnectsession", "server session wait", {}},
    {"wtslogoffsession", "server session wait", {}},
    {"wtsterminateprocess", "server processid exitcode", {}},
    {"wtssendmessage", "server session title text style timeout wait", {}},
    {"wtsquerysessioninfo", "server session", kSessionInfo},
    {"wtswaitsystemevent", "server eventmask", {}},
    {"wtsgetactiveconsolesessid", "", {}},
    {"wtsshutdownsystem", "server flags", {}},
    {"wtstest", "server session class", {}},
    {"wtsiscitrixenabled", "[selector]", {}},
};

const Described* Describe(const std::string& name)
{
    for (const Described& d : kDescribed)
        if (name == d.name)
            return &d;
    return nullptr;
}

const char* TypeName(int32_t type)
{
    switch (type) {
    case ValueInteger: return "integer";
    case ValueString: return "string";
    case ValueArray: return "array";
    default: return "absent";
    }
}

void PrintList(const std::vector<FunctionTableEntry>& table)
{
    for (const FunctionTableEntry& e : table)
        printf("%2d  %-26s required %u, optional %u\n", e.RequestNumber, e.Name, e.RequiredArgs, e.OptionalArgs);
}

// A text result is printed as it is; tabs inside lists stay tabs. Array
// elements get their names when the host knows them.
void PrintValue(const Host& host, const Completion& c, const Described* described)
{
    if (c.value.type == ValueArray) {
        const bool named = described && described->elements.size() == c.elements.size();
        for (size_t i = 0; i < c.elements.size(); ++i) {
            const HostValue& v = c.elements[i];
            printf("[%2u] ", unsigned(i));
            if (named)
                printf("%-20s ", described->elements[i]);
            if (v.type == ValueInteger)
                printf("integer %d\n", v.integer);
            else
                printf("%s %s\n", TypeName(v.type), v.text.c_str());
        }
        return;
    }
    if (c.value.type == ValueString) {
        printf("%s\n", c.value.text.c_str());
        return;
    }
    printf("%d\n", c.value.integer);
    auto buffer = host.buffers.find(c.value.integer);
    if (buffer == host.buffers.end())
        return;
    printf("binary buffer %d, %d bytes:", c.value.integer, host.bufferEnds.at(c.value.integer));
    for (int32_t i = 0; i < host.bufferEnds.at(c.value.integer); ++i)
        printf(" %02x", buffer->second[size_t(i)]);
    printf("\n");
}

int Usage()
{
    fprintf(stderr, "usage: zelhost [--extender PATH] --list | --messages\n"
                    "       zelhost [--extender PATH] FUNCTION [ARG...]\n"
                    "An argument {pid} stands for this host's process id.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* path = "velquor.dll";
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--extender") == 0) {
        path = argv[2];
        first = 3;
    }
    if (first >= argc)
        return Usage();
    Extender ext;
    if (!ext.Load(path)) {
        fprintf(stderr, "zelhost: cannot load the extender %s (error %lu)\n", path, GetLastError());
        return 3;
    }
    Host host;
    std::string message;
    if (HostInitialise(host, ext, &message) < 0) {
        fprintf(stderr, "%s\n", message.c_str());
        return 4;
    }
    const std::vector<FunctionTableEntry> table = HostReadTable(host, ext);
    if (strcmp(argv[first], "--messages") == 0) {
        for (UINT id = 1; id <= 0xFFFF; ++id) {
            char text[300];
            if (ext.LoadString(ext.module, id, text, sizeof text) > 0)
                printf("%u\t%s\n", id, text);
        }
        return 0;
    }
    if (strcmp(argv[first], "--list") == 0) {
        char title[64] = "";
        ext.Query(1, title, sizeof title);
        printf("%s %d.%d.%d.%d\n", title, ext.Version(0), ext.Version(1), ext.Version(2), ext.Version(3));
        PrintList(table);
        return 0;
    }
    const int32_t request = HostFindFunction(table, argv[first]);
    if (request == 0) {
        fprintf(stderr, "zelhost: the extender has no function %s\n", argv[first]);
        return 2;
    }
    const FunctionTableEntry* row = &table[0];
    while (row->RequestNumber != request)
        ++row;
    const Described* described = Describe(argv[first]);
    if (argc - first - 1 < int(row->RequiredArgs)) {
        fprintf(stderr, "zelhost: %s needs %u argument%s\nusage: zelhost %s %s\n", argv[first],
                unsigned(row->RequiredArgs), row->RequiredArgs == 1 ? "" : "s", argv[first],
                described ? described->arguments : "");
        return 2;
    }
    const std::string pid = std::to_string(GetCurrentProcessId());
    std::vector<const char*> args;
    for (int i = first + 1; i < argc; ++i)
        args.push_back(strcmp(argv[i], "{pid}") == 0 ? pid.c_str() : argv[i]);
    HostCall(host, ext, request, args);
    if (host.completion.status != 0) {
        fprintf(stderr, "%s\n", host.completion.value.text.c_str());
        for (const std::string& text : host.lastErrorTexts)
            fprintf(stderr, "last error: %s\n", text.c_str());
        return 1;
    }
    PrintValue(host, host.completion, described);
    return 0;
}
