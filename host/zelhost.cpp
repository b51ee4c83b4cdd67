// zelhost: loads the extender as the interpreter does and calls one of its
// script functions from the command line.
//   zelhost [--extender PATH] --list
//   zelhost [--extender PATH] FUNCTION [ARG...]     ("" passes an empty text,
//                                                    {pid} this host's process id)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

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

// A text result is printed as it is; tabs inside lists stay tabs.
void PrintValue(const Host& host, const Completion& c)
{
    if (c.value.type == ValueArray) {
        for (size_t i = 0; i < c.elements.size(); ++i) {
            const HostValue& v = c.elements[i];
            if (v.type == ValueInteger)
                printf("[%u] integer %d\n", unsigned(i), v.integer);
            else
                printf("[%u] %s %s\n", unsigned(i), TypeName(v.type), v.text.c_str());
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
    fprintf(stderr, "usage: zelhost [--extender PATH] --list\n"
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
    PrintValue(host, host.completion);
    return 0;
}
