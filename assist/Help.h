#pragma once

#include <string_view>

class WindowHost;

inline constexpr std::u16string_view kContactPage = u"https://quorvane.example/contact";

// Shows where to turn with questions.
void PushButton5_Click(WindowHost& window);
