#pragma once

#include "platform/SkinEngine.h"

#include <QString>
#include <cstdint>

// Our skin engine: a skin file is a Qt style sheet, applied to the window it is given.
class StyleSheetSkin : public SkinEngine {
  public:
    DispValue getProperty(int member) override;
    void putProperty(int member, const DispValue& value) override;
    void callMethod(int member, const std::vector<DispValue>& arguments) override;

  private:
    QString m_sheet;
    std::int32_t m_options = 0;
    bool m_dialogs = false;
    bool m_frameColours = false;
};
