// The simulator's call log, one file per test.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

class SimCallLog {
public:
    explicit SimCallLog(const std::string& name) : path_(name + ".simlog")
    {
        remove(path_.c_str());
        _putenv(("VELQUOR_SIM_LOG=" + path_).c_str());
    }
    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    // Lines that begin with `prefix`.
    std::vector<std::string> Calls(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const std::string& line : Lines())
            if (line.compare(0, prefix.size(), prefix) == 0)
                found.push_back(line);
        return found;
    }
    // Server handles opened and not closed again.
    int OpenHandles() const
    {
        int open = 0;
        for (const std::string& line : Lines()) {
            if (line.compare(0, 13, "WTSOpenServer") == 0 && line.find("-> 00000000") == std::string::npos)
                ++open;
            if (line.compare(0, 14, "WTSCloseServer") == 0)
                --open;
        }
        return open;
    }
    // Platform buffers handed out and not released.
    int OpenBuffers() const
    {
        int open = 0;
        for (const std::string& line : Lines()) {
            if (line.compare(0, 6, "alloc ") == 0)
                ++open;
            if (line.compare(0, 13, "WTSFreeMemory") == 0)
                --open;
        }
        return open;
    }

private:
    std::string path_;
};
