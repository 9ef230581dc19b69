#pragma once

#include "platform/CopyingFileServices.h"
#include "platform/win32/Win32CopyPrimitives.h"

#include <functional>
#include <memory>

// File services of a Windows host, on the wide API (the narrow one where the system's
// routine asks for it).
class Win32FileServices : public CopyingFileServices {
  public:
    // On this host's copy primitives, or on those given (a test's).
    explicit Win32FileServices(
        std::unique_ptr<Win32CopyPrimitives> primitives = std::make_unique<Win32CopyPrimitives>());

    std::int64_t lastModified(std::u16string_view path) override;
    std::uint32_t attributes(std::u16string_view path) override;
    bool probeFolder(std::u16string_view path) override;
    bool openExisting(std::u16string_view path) override;
    std::vector<std::u16string> findOrdinaryFiles(std::u16string_view pattern,
                                                  std::size_t limit) override;
    std::int64_t fileLength(std::u16string_view path) override;
    std::string readFileBytes(std::u16string_view path) override;
    std::unique_ptr<InputFile> openForReading(std::u16string_view path) override;
    std::size_t decodeAnsi(std::string_view bytes, bool atStart, bool last,
                           std::u16string& text) override;
    std::optional<std::u16string> mapNativeName(std::u16string_view name) override;
    void makeDurable() override;
    std::u16string installationFolder() override;

    // The system's ANSI code page and its narrowing call, for a test to replace.
    struct AnsiSeams {
        std::function<UINT()> codePage = ::GetACP;
        std::function<int(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)> toNarrow =
            ::WideCharToMultiByte;
    };
    AnsiSeams& ansiSeams() { return m_ansi; }

  protected:
    HostString hostPath(std::u16string_view path) override;
    std::u16string windowsPath(const HostString& path) override;
    // Whether this process runs on the full token of a user who also has a filtered one
    // (elevated through UAC), for a test to say either.
    virtual bool elevated();

  private:
    AnsiSeams m_ansi;
    std::unique_ptr<Win32CopyPrimitives> m_primitives;
};
