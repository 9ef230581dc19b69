#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

// The skin engine, reached as an automation object through fixed member numbers.
using DispValue = std::variant<std::int32_t, bool, std::u16string, std::uintptr_t>;

enum SkinMember : int {
    SkinOptions = 1,       // property: option bits; bit 0 skins the window's controls
    SkinLoad = 2,          // method (path, ini section): loads a skin file
    SkinApplyWindow = 3,   // method (window handle): skins that window
    SkinDialogs = 5,       // property: also skin message boxes and dialogs
    SkinFrameColours = 10, // property: frames take the skin's colours
};

class SkinEngine {
  public:
    virtual ~SkinEngine() = default;
    virtual DispValue getProperty(int member) = 0;
    virtual void putProperty(int member, const DispValue& value) = 0;
    virtual void callMethod(int member, const std::vector<DispValue>& arguments) = 0;
};
