#pragma once

#include <string>
#include <string_view>

inline constexpr std::u16string_view kProductName = u"Quorvane";

// The product name cut to at most 40 characters at word boundaries. Throws when a word that
// is too long leaves no space to cut at.
std::u16string CutApplicationTitle(std::u16string_view productName);
