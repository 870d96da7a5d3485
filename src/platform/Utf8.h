// Platform layer: conversion between the system's wide strings and UTF-8 at
// the edges (command lines, files of the tools, the desktop, HTTP URLs).
// Promises: every valid code point round-trips; an invalid UTF-8 sequence
// or a wide value that is not a code point becomes U+FFFD.
#pragma once

#include <string>

namespace ostrel::platform {

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

}  // namespace ostrel::platform
