#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Windows file attribute bits.
enum FileAttribute : std::uint32_t {
    AttributeReadOnly = 0x1,
    AttributeHidden = 0x2,
    AttributeDirectory = 0x10,
    AttributeNormal = 0x80,
};

// The file services of the platform, on Windows paths. Every call that fails throws
// PlatformError.
class FileServices {
  public:
    virtual ~FileServices() = default;

    // Last-modified time (seconds since 1970) of a file or folder.
    virtual std::int64_t lastModified(std::u16string_view path) = 0;
    virtual std::uint32_t attributes(std::u16string_view path) = 0;
    // Opens an existing file that is not a folder without reading it, and closes it again.
    // False when it does not open.
    virtual bool openExisting(std::u16string_view path) = 0;
    // Names of the ordinary files that match a pattern with the wildcards * and ?; at most
    // `limit` of them. Empty when nothing matches or the folder does not exist.
    virtual std::vector<std::u16string> findOrdinaryFiles(std::u16string_view pattern,
                                                          std::size_t limit) = 0;
    virtual std::int64_t fileLength(std::u16string_view path) = 0;
    virtual std::string readWholeFile(std::u16string_view path) = 0;
    virtual std::u16string decodeAnsi(std::string_view bytes) = 0;
    // Copies one file whole, replacing an existing destination file. A destination ending in
    // "\" is a folder that takes the source's name; a source with wildcards copies every match.
    virtual void copyFile(std::u16string_view source, std::u16string_view destination) = 0;
    // The folder of the running executable.
    virtual std::u16string installationFolder() = 0;
};
