#pragma once

#include <string>

class FileServices;
class MessageBoxes;
class OutcomeObserver;

// The window's mouse-pointer setting.
enum MousePointer : int {
    PointerDefault = 0,
    PointerWait = 11,
    PointerCustom = 99,
};

// What "Start Saving" needs of the window that runs it.
class CommandHost {
  public:
    virtual ~CommandHost() = default;

    virtual std::u16string text1() const = 0;
    virtual std::u16string text2() const = 0;
    virtual bool busy() const = 0;
    virtual void setBusy(bool busy) = 0;
    virtual int mousePointer() const = 0;
    virtual void setMousePointer(int pointer) = 0;
    virtual MessageBoxes& messageBoxes() = 0;
    virtual FileServices& fileServices() = 0;
    // Told what became of each line; the window has none.
    virtual OutcomeObserver* outcomeObserver() { return nullptr; }
};
