#pragma once

#include "platform/MessageBoxes.h"

#include <memory>
#include <string>

class MessageDialog;

// Message boxes as modal Qt dialogs.
class QtMessageBoxes : public MessageBoxes {
  public:
    explicit QtMessageBoxes(std::u16string defaultTitle) : m_title(std::move(defaultTitle)) {}
    int msgBox(std::u16string_view prompt, int style, std::u16string_view title) override;
    std::u16string applicationTitle() const override { return m_title; }
    void setApplicationTitle(std::u16string_view title) override { m_title = title; }
    // The box as the style value asks, not yet shown.
    std::unique_ptr<MessageDialog> create(std::u16string_view prompt, int style,
                                          std::u16string_view title) const;

  private:
    std::u16string m_title;
};
