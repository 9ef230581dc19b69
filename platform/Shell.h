#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int kShowNormal = 5;     // SW_SHOW
inline constexpr int kMinimizedFocus = 2; // the launcher's minimized-with-focus style

// The desktop shell: opening things and starting programs. Neither call waits.
class Shell {
  public:
    virtual ~Shell() = default;

    // Opens a file or folder with its default action, as ShellExecute does; the file may be
    // enclosed in double quotes.
    virtual void shellExecute(std::uintptr_t owner, std::u16string_view operation,
                              std::u16string_view file, std::u16string_view parameters,
                              std::u16string_view directory, int showCommand) = 0;
    // Starts a command line and returns at once. Throws PlatformError when it cannot start.
    virtual void launch(std::u16string_view commandLine, int windowStyle) = 0;
};
