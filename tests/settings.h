// Reads and resets the per-user settings file the library records its last
// error in.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>

inline std::string AppDataFolder()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, path);
    return path;
}

inline std::string SettingsFile(const std::string& base = AppDataFolder())
{
    return base + "\\Tavrik\\Settings\\qrvtavrk.ini";
}

inline std::string LastErrorRecord(const std::string& file = SettingsFile())
{
    char value[512] = "";
    GetPrivateProfileStringA("Velquor", "LastError", "<none>", value, sizeof value, file.c_str());
    return value;
}

inline void ClearLastErrorRecord(const std::string& file = SettingsFile())
{
    WritePrivateProfileStringA("Velquor", "LastError", nullptr, file.c_str());
}
