// Internal to the platform layer: the operating system's side of
// ByteFileBuf (ByteFile.cpp), which owns the buffering. POSIX in
// ByteFileSystem.cpp, Windows in win32/ByteFileSystem.cpp. Files are named
// by descriptors of the C runtime. Each call that fails says why in
// *error, for people ("it is a symbolic link", the system's message).
#pragma once

#include <cstddef>
#include <string>

namespace ostrel::platform::byte_file {

// A regular file for reading, opened without blocking; with followLink
// false a link in the last element fails. The descriptor, or -1.
int OpenForReading(const std::wstring& path, bool followLink, std::string* error);

// A new file beside target, under a name nobody can have chosen first,
// with an existing target's permissions (else private for the system's own
// files, or as the process's mask allows for a person's). Refuses a
// target that is a link or not a regular file. The descriptor, or -1.
int CreateBeside(const std::wstring& target, bool systemFile, std::wstring* created,
                 std::string* error);

// Bytes read (0 at the end of the file), or -1 when the read failed.
long long Read(int fd, char* buffer, std::size_t size, std::string* error);
bool WriteAll(int fd, const char* data, std::size_t size, std::string* error);
bool Seek(int fd, long long position);

// Makes the new file durable, closes it and renames it over target; fd is
// closed whatever happens, the new file left for Remove on failure.
bool Commit(int fd, const std::wstring& created, const std::wstring& target, std::string* error);
void Close(int fd);
void Remove(const std::wstring& path);

}  // namespace ostrel::platform::byte_file
