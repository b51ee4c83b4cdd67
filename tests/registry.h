// Sets the ProductSuite registry value of the test prefix and restores it afterwards.
#pragma once
#include <windows.h>
#include <string>

class ProductSuiteValue {
public:
    static constexpr const char* kKey = "System\\CurrentControlSet\\Control\\ProductOptions";

    ProductSuiteValue() { saved_ = Read(&savedType_, &hadValue_); }
    ~ProductSuiteValue()
    {
        EnsureKey();
        if (hadValue_)
            Set(saved_, savedType_);
        else
            Remove();
    }
    ProductSuiteValue(const ProductSuiteValue&) = delete;
    ProductSuiteValue& operator=(const ProductSuiteValue&) = delete;

    // Stores `data` exactly as given (no terminator is added).
    static bool Set(const std::string& data, DWORD type = REG_MULTI_SZ)
    {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            return false;
        LONG rc = RegSetValueExA(key, "ProductSuite", 0, type,
                                 reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
        RegCloseKey(key);
        return rc == ERROR_SUCCESS;
    }
    static void Remove()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "ProductSuite");
            RegCloseKey(key);
        }
    }
    // Removes the whole key; the destructor brings it back with its ProductType.
    void RemoveKey()
    {
        Remove();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
    }

private:
    void EnsureKey()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return;
        }
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegSetValueExA(key, "ProductType", 0, REG_SZ, reinterpret_cast<const BYTE*>("WinNT"), 6);
        RegCloseKey(key);
    }
    static std::string Read(DWORD* type, bool* present)
    {
        HKEY key;
        *present = false;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return {};
        char buffer[1024];
        DWORD size = sizeof buffer;
        *present = RegQueryValueExA(key, "ProductSuite", nullptr, type, reinterpret_cast<BYTE*>(buffer),
                                    &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        return *present ? std::string(buffer, size) : std::string();
    }

    std::string saved_;
    DWORD savedType_ = REG_MULTI_SZ;
    bool hadValue_ = false;
};
