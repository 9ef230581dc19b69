#pragma once

#include "platform/CopyingFileServices.h"
#include "platform/posix/PosixCopyPrimitives.h"

#include <memory>

// File services of a POSIX host, on Windows paths mapped as WindowsPath.h says.
class PosixFileServices : public CopyingFileServices {
  public:
    // On this host's copy primitives, or on those given (a test's).
    explicit PosixFileServices(
        std::unique_ptr<PosixCopyPrimitives> primitives = std::make_unique<PosixCopyPrimitives>());

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

  protected:
    HostString hostPath(std::u16string_view path) override;
    std::u16string windowsPath(const HostString& path) override;

  private:
    std::unique_ptr<PosixCopyPrimitives> m_primitives;
};
