// Files on Windows: Win32 handles, opened by wide (UTF-16) names of any length; the
// tools' own strings are UTF-8 throughout.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>

#include "common/file_io.h"

namespace lenfit {

namespace {

std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.resize(static_cast<std::size_t>(length) - 1);
    return text;
}

// The path as the file API takes it at any length: made full (which also turns / into
// \ and drops . and ..) and marked \\?\ so that no length limit applies.
std::wstring full_path(const std::string& path) {
    const std::wstring wide = widen(path);
    if (wide.empty()) return wide;
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::wstring();
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    full.resize(length);
    if (full.rfind(L"\\\\?\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens the file a UTF-8 name gives, or returns INVALID_HANDLE_VALUE.
HANDLE open_by_name(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    const std::wstring name = full_path(path);
    if (name.empty()) return INVALID_HANDLE_VALUE;
    return CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Volume and file index: the same numbers whatever name the file goes by.
bool identity(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileInformationByHandle(file, &info) != 0;
}

}  // namespace

std::vector<std::string> program_arguments(int, char**) {
    // Lines end in \n alone, as on every other system.
    _setmode(_fileno(stdout), _O_BINARY);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i) arguments.push_back(narrow(wide[i]));
    if (wide != nullptr) LocalFree(wide);
    return arguments;
}

bool open_input_file(const std::string& path, InputFile& file) {
    // A folder cannot be opened this way, which is what the tools want.
    const HANDLE handle = open_by_name(path, GENERIC_READ, share_all, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool open_output_file(const std::string& path, OutputFile& file) {
    const HANDLE handle = open_by_name(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool names_input_file(const InputFile& input, const std::string& path) {
    const HANDLE other = open_by_name(path, 0, share_all, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (other == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION input_info;
    BY_HANDLE_FILE_INFORMATION other_info;
    const bool same = identity(handle_of(input.handle), input_info) && identity(other, other_info) &&
                      input_info.dwVolumeSerialNumber == other_info.dwVolumeSerialNumber &&
                      input_info.nFileIndexHigh == other_info.nFileIndexHigh &&
                      input_info.nFileIndexLow == other_info.nFileIndexLow;
    CloseHandle(other);
    return same;
}

std::int64_t input_file_size(const InputFile& file) {
    LARGE_INTEGER size;
    if (GetFileType(handle_of(file.handle)) != FILE_TYPE_DISK || !GetFileSizeEx(handle_of(file.handle), &size)) {
        return -1;
    }
    return static_cast<std::int64_t>(size.QuadPart);
}

std::int64_t read_input(const InputFile& file, std::int64_t offset, std::uint8_t* to, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(n - got, 1u << 30));
        DWORD read_now = 0;
        OVERLAPPED at = {};
        if (offset >= 0) {
            const auto position = static_cast<std::uint64_t>(offset) + got;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
        }
        if (!ReadFile(handle_of(file.handle), to + got, wanted, &read_now, offset >= 0 ? &at : nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) break;
            return -1;
        }
        if (read_now == 0) break;
        got += read_now;
    }
    return static_cast<std::int64_t>(got);
}

bool write_output(const OutputFile& file, const ByteSpan* spans, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t done = 0;
        while (done < spans[i].size) {
            const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(spans[i].size - done, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(handle_of(file.handle), spans[i].data + done, wanted, &written, nullptr) || written == 0) {
                return false;
            }
            done += written;
        }
    }
    return true;
}

void close_input(InputFile& file) {
    if (file.handle != -1) CloseHandle(handle_of(file.handle));
    file.handle = -1;
}

bool close_output(OutputFile& file) {
    const bool closed = file.handle == -1 || CloseHandle(handle_of(file.handle)) != 0;
    file.handle = -1;
    return closed;
}

}  // namespace lenfit
