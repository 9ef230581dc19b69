#pragma once

#include "platform/FileServices.h"

#include <string>
#include <sys/types.h>

// File services of a POSIX host, on Windows paths mapped as WindowsPath.h says.
class PosixFileServices : public FileServices {
  public:
    PosixFileServices();

    std::int64_t lastModified(std::u16string_view path) override;
    std::uint32_t attributes(std::u16string_view path) override;
    bool openExisting(std::u16string_view path) override;
    std::vector<std::u16string> findOrdinaryFiles(std::u16string_view pattern,
                                                  std::size_t limit) override;
    std::int64_t fileLength(std::u16string_view path) override;
    std::string readWholeFile(std::u16string_view path) override;
    std::u16string decodeAnsi(std::string_view bytes) override;
    void copyFile(std::u16string_view source, std::u16string_view destination) override;
    std::u16string installationFolder() override;

  private:
    void copyOne(const std::string& source, const std::string& destination);

    uid_t m_uid;
    gid_t m_gid;
    mode_t m_umask;
};
