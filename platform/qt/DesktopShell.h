#pragma once

#include "platform/Shell.h"

#include <QStringList>
#include <string_view>

// Opens folders and addresses with the desktop's own opener (xdg-open, detached, output to the
// null device; the Windows shell), and starts command lines.
class DesktopShell : public Shell {
  public:
    void shellExecute(std::uintptr_t owner, std::u16string_view operation, std::u16string_view file,
                      std::u16string_view parameters, std::u16string_view directory,
                      int showCommand) override;
    void launch(std::u16string_view commandLine, int windowStyle) override;
    // Splits a Windows command line into its words.
    static QStringList splitCommandLine(std::u16string_view commandLine);
};
