#pragma once

#include <optional>
#include <string>
#include <vector>

// The non-empty components of a client path ("Vantry//job/App.ipa" → Vantry, job, App.ipa), or
// nothing with *error when the path is empty, holds a NUL byte or a backslash, is absolute, or
// names "." or "..".
std::optional<std::vector<std::string>> storagePathComponents(const std::string& relative,
                                                              std::string* error = nullptr);

// The name in one letter case (Unicode case folding, not just ASCII): names that differ only in
// case fold to the same text.
std::string foldedName(const std::string& name);

// Whether two names are equal regardless of letter case: whether they fold to the same text.
bool sameNameIgnoringCase(const std::string& a, const std::string& b);
