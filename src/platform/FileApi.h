// Platform layer: a file's attributes.
#pragma once

#include "platform/WinTypes.h"

// Attributes of a file, without following a link in the last element;
// INVALID_FILE_ATTRIBUTES (with the last error set) when nothing is there.
// FILE_ATTRIBUTE_DEVICE marks what is neither a file, a folder nor a link
// (a FIFO, socket or device).
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x400;

DWORD GetFileAttributesW(LPCWSTR lpFileName);
