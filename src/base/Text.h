// Small text operations on single-byte (ANSI) strings and Windows paths.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace umbrane {

// `path` with a "\" appended unless it already ends in one; "" gives "\".
std::string AddTrailingBackslash(std::string_view path);

// The folder part of a Windows path, up to and including its last "\" (or
// ":"); empty when the path has neither.
std::string ExtractFilePath(std::string_view path);

// The longest beginning of `text` made only of "." and "0" to "9".
std::string LeadingVersionNumber(std::string_view text);

// ASCII lower case: other bytes are left as they are, so the result does not
// depend on the code page.
std::string LowerCase(std::string_view text);

// Decimal digits of `value`, at least `width` of them, zero-padded.
std::string ZeroPad(unsigned value, unsigned width);

// The bytes that standard, padded base64 `text` stands for; nothing for
// anything else (a stray character, a missing or misplaced "=", bits left
// over), so that one value has one spelling.
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace umbrane
