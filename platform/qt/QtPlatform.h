#pragma once

#include <QAccessible>
#include <QColor>
#include <QCursor>
#include <QIcon>
#include <QString>
#include <string>
#include <string_view>

// The look the window is designed with, whatever the desktop's theme: the Fusion style with
// its light palette, Arial's metric twin for boxes and dialogs on Linux, and the icon.
void applyDesignLook();

// Why no window can be shown here, with advice that works; empty where one can.
std::string missingDisplayAdvice();

// Text as Qt holds it.
QString toQString(std::u16string_view text);

// The name under which Qt finds a file named by a Windows path.
QString hostFileName(std::u16string_view windowsPath);

// A colour value: 0x00BBGGRR fixed, 0x800000nn the system colour with index nn.
QColor colorFromOle(std::uint32_t colour);

// Screen readers announce every widget of the named class in `role` (Qt gives a plain top-level
// widget the role of a filler, a plain dialog that of a dialog).
void announceClassAs(const char* className, QAccessible::Role role);

// The icon built into the program.
QIcon applicationIcon();

// A cursor from the bytes of a .cur file, with the hot spot the file gives, or of an icon file,
// with the hot spot at its centre, as the Windows picture loader takes one. Throws
// PlatformError when the bytes are neither.
QCursor cursorFromFile(const std::string& bytes);
