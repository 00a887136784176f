#include "log/error_log.h"
#include "log/log_file.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <system_error>

namespace movarin::log {

std::tm local_now() {
    const std::time_t now = std::time(nullptr);
    std::tm result{};
    localtime_s(&result, &now);
    return result;
}

namespace {

bool refusal(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
           error == ERROR_PRIVILEGE_NOT_HELD;
}

} // namespace

Appended append_line(const std::filesystem::path& log_file, std::string_view text) noexcept {
    try {
        // A folder by that name answers "access denied" too, yet moving the record would not
        // be what the user wants there: it is dropped, as on Linux.
        const DWORD attributes = GetFileAttributesW(log_file.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return Appended::Failed;
        const HANDLE file = CreateFileW(log_file.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return refusal(GetLastError()) ? Appended::Refused : Appended::Failed;
        std::string line;
        line.reserve(text.size() + 2);
        line.append(text);
        line.append("\r\n");
        DWORD written = 0;
        WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
        CloseHandle(file);
        return Appended::Done;
    } catch (...) {
        return Appended::Failed;
    }
}

// The folders under the user's own profile inherit its access, which is the user's alone.
bool make_private_dirs(const std::filesystem::path& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    return std::filesystem::is_directory(dir, error);
}

std::filesystem::path state_log_file() {
    std::filesystem::path base;
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        base = local;
    if (!base.is_absolute()) {
        PWSTR known = nullptr;
        if (SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &known) == S_OK)
            base = known;
        CoTaskMemFree(known);
    }
    if (!base.is_absolute())
        return {};
    return base / L"Movarin" / L"log.txt";
}

} // namespace movarin::log
