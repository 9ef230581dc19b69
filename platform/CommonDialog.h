#pragma once

#include <string>

// The common file dialog, with the members the browse buttons set and read.
class CommonDialog {
  public:
    virtual ~CommonDialog() = default;

    // Shows the file-open dialog modally. Afterwards FileName holds the chosen path in Windows
    // form, or stays empty when the user cancelled.
    virtual void ShowOpen() = 0;

    std::u16string FileName;
    std::u16string DialogTitle;
    // Description and pattern pairs, each part separated by "|".
    std::u16string Filter;
};
