#pragma once

#include "app/report/CommandHost.h"

#include <cstdint>
#include <string>

class CommonDialog;
class Shell;

// What the browse, sample and help commands need of the main window.
class WindowHost : public CommandHost {
  public:
    virtual void setText1(const std::u16string& text) = 0;
    virtual void setText2(const std::u16string& text) = 0;
    virtual CommonDialog& commonDialog() = 0;
    virtual Shell& shell() = 0;
    virtual std::uintptr_t windowHandle() = 0;
};
