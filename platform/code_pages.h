// Text between a code page's bytes and Unicode, through kernel32: each
// conversion asks for the length first, then converts, and fails as a
// whole rather than giving back part of the text.
#pragma once

#include <optional>
#include <string>

#include "platform/win32.h"

// Empty text converts to empty text without asking the system.
std::optional<std::wstring> ToUnicode(const std::string& bytes, UINT codePage);
std::optional<std::string> FromUnicode(const std::wstring& text, UINT codePage);
