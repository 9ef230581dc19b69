#pragma once

#include "platform/CopySequence.h"
#include "platform/FileServices.h"
#include "platform/posix/PosixCopyPrimitives.h"

// File services of a POSIX host, on Windows paths mapped as WindowsPath.h says.
class PosixFileServices : public FileServices {
  public:
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
    void copyFile(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener) override;
    void checkCopy(std::u16string_view source, std::u16string_view destination,
                   CopyListener& listener) override;
    void guardFile(const FileIdentity& file) override;
    std::optional<std::u16string> mapNativeName(std::u16string_view name) override;
    void makeDurable() override;
    std::u16string installationFolder() override;

    CopySeams& copySeams() { return m_primitives.seams; }

  private:
    // The host form of the file to copy, which every line names alike.
    const std::string& hostSource(std::u16string_view path);
    void copyEach(std::u16string_view source, std::u16string_view destination,
                  CopyListener& listener, bool checkOnly);

    std::u16string m_source;
    std::string m_hostSource;
    PosixCopyPrimitives m_primitives;
    CopySequence m_copy{m_primitives};
};
