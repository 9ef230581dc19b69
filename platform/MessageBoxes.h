#pragma once

#include <string>
#include <string_view>

// Message-box style values and answers, as Windows numbers them.
enum MsgBoxStyle : int {
    MsgBoxOkOnly = 0,
    MsgBoxYesNo = 4,
    MsgBoxDefaultButton1 = 0,
    MsgBoxExclamation = 48,
};

enum MsgBoxResult : int {
    MsgBoxOk = 1,
    MsgBoxYes = 6,
    MsgBoxNo = 7,
};

// Modal message boxes of the platform.
class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;

    // Shows a modal box and returns the button pressed. An empty title shows the application
    // title.
    virtual int msgBox(std::u16string_view prompt, int style, std::u16string_view title = {}) = 0;

    // The program-wide title of untitled boxes.
    virtual std::u16string applicationTitle() const = 0;
    virtual void setApplicationTitle(std::u16string_view title) = 0;
};
