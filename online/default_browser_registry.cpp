#include "online/module1.h"

#include <windows.h>

#include <string>

namespace movarin::Module1 {

namespace {

// The value as the registry hands it back, less its terminating NUL. Read through the wide
// interface, so that a browser installed under a name outside the system's code page survives.
QString default_value(HKEY key) {
    DWORD size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0'); // room for an odd byte count
    if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS)
        return {}; // empty, so that the next call looks again
    text.resize(size / sizeof(wchar_t));
    // A value stored without its NUL keeps its last character.
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return QString::fromStdWString(text);
}

} // namespace

online::BrowserCommand browser_command_line() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    const QString line = default_value(key);
    RegCloseKey(key);
    return line;
}

} // namespace movarin::Module1
