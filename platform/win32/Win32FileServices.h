#pragma once

#include "platform/CopySequence.h"
#include "platform/FileServices.h"
#include "platform/win32/Win32CopyPrimitives.h"

#include <functional>

// File services of a Windows host, on the wide API (the narrow one where the system's
// routine asks for it).
class Win32FileServices : public FileServices {
  public:
    std::int64_t lastModified(std::u16string_view path) override;
    std::uint32_t attributes(std::u16string_view path) override;
    bool openExisting(std::u16string_view path) override;
    std::vector<std::u16string> findOrdinaryFiles(std::u16string_view pattern,
                                                  std::size_t limit) override;
    std::int64_t fileLength(std::u16string_view path) override;
    std::string readFileBytes(std::u16string_view path) override;
    std::unique_ptr<InputFile> openForReading(std::u16string_view path) override;
    std::size_t decodeAnsi(std::string_view bytes, bool atStart, bool last,
                           std::u16string& text) override;
    void copyFile(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener) override;
    void checkCopy(std::u16string_view source, std::u16string_view destination,
                   CopyListener& listener) override;
    void guardFile(const FileIdentity& file) override;
    std::optional<std::u16string> mapNativeName(std::u16string_view name) override;
    std::u16string installationFolder() override;

    CopySeams& copySeams() { return m_primitives.seams; }
    // The system's ANSI code page and its narrowing call, for a test to replace.
    struct AnsiSeams {
        std::function<UINT()> codePage = ::GetACP;
        std::function<int(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)> toNarrow =
            ::WideCharToMultiByte;
    };
    AnsiSeams& ansiSeams() { return m_ansi; }

  private:
    void copyEach(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener, bool checkOnly);

    AnsiSeams m_ansi;
    Win32CopyPrimitives m_primitives;
    CopySequence m_copy{m_primitives};
};
