#pragma once

#include "platform/OsHandle.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Windows file attribute bits.
enum FileAttribute : std::uint32_t {
    AttributeReadOnly = 0x1,
    AttributeHidden = 0x2,
    AttributeDirectory = 0x10,
    AttributeNormal = 0x80,
};

// The longest path Win32 takes; a longer name names nothing.
inline constexpr std::size_t kLongestPath = 32767;

// What tells a file from every other on the machine while it is open: its volume and its
// number there (128 bits where the host's numbers are that wide).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t indexHigh = 0;
    bool operator==(const FileIdentity&) const = default;
};

// What a copy did to its destination.
enum class CopyOutcome {
    Created,
    Replaced, // a new file took the old one's name
    InPlace,  // the old file was written over, where its folder allows no new file
};

class PlatformError;

// Told what became of each file a copy takes: the one file of a plain source (unnamed), or each
// match of a wildcard source, by name; and the file written, in Windows form, where it is not
// the one named (a link followed, a name completed), else nothing.
class CopyListener {
  public:
    virtual ~CopyListener() = default;
    virtual void copied(std::u16string_view match, CopyOutcome outcome,
                        std::u16string_view written) = 0;
    virtual void notCopied(std::u16string_view match, const PlatformError& failure) = 0;
};

// A file open for reading, closed when dropped.
class InputFile {
  public:
    virtual ~InputFile() = default;
    // Up to `size` bytes; 0 at the end of the file.
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
};

// A file of the host open for reading, read by the host's own call.
class HandleInputFile : public InputFile {
  public:
    explicit HandleInputFile(OsHandle file) : m_file(std::move(file)) {}
    std::size_t read(char* buffer, std::size_t size) override;

  private:
    OsHandle m_file;
};

// Every byte left in `file`; `sizeHint` is the buffer first tried.
std::string readToEnd(InputFile& file, std::size_t sizeHint);

// The file services of the platform, on Windows paths. Every call that fails throws
// PlatformError.
class FileServices {
  public:
    virtual ~FileServices() = default;

    // Last-modified time (seconds since 1970) of a file or folder.
    virtual std::int64_t lastModified(std::u16string_view path) = 0;
    virtual std::uint32_t attributes(std::u16string_view path) = 0;
    // Looks up the folder a line's target goes into: true for a folder, false for anything
    // else; throws when it cannot be looked up (PlatformError::isMissing tells nothing there
    // from out of reach). A host may hold the folder for the copy that follows, until the next
    // probe.
    virtual bool probeFolder(std::u16string_view path) {
        return (attributes(path) & AttributeDirectory) != 0;
    }
    // Opens an existing file that is not a folder without reading it, and closes it again.
    // False when it does not open.
    virtual bool openExisting(std::u16string_view path) = 0;
    // Names of the ordinary files that match a pattern with the wildcards * and ?; at most
    // `limit` of them. Empty when nothing matches or the folder does not exist.
    virtual std::vector<std::u16string> findOrdinaryFiles(std::u16string_view pattern,
                                                          std::size_t limit) = 0;
    virtual std::int64_t fileLength(std::u16string_view path) = 0;
    // Every byte of a file, as it is on disk.
    virtual std::string readFileBytes(std::u16string_view path) = 0;
    virtual std::unique_ptr<InputFile> openForReading(std::u16string_view path) = 0;
    // Appends the text of one piece of a file's bytes in the ANSI code page and returns how
    // many bytes it used: unless `last`, a character cut at the end of the piece waits for the
    // next. `atStart`: the piece begins at offset 0 of the file (where a UTF-8 code page's
    // byte-order mark is no text).
    virtual std::size_t decodeAnsi(std::string_view bytes, bool atStart, bool last,
                                   std::u16string& text) = 0;
    // Copies one file whole, replacing an existing destination file. A destination ending in
    // "\" is a folder that takes the source's name. A plain source's outcome is told and its
    // failure thrown; each match of a wildcard source is tried and its outcome or failure told,
    // and only a failed search is thrown.
    virtual void copyFile(std::u16string_view source, std::u16string_view destination,
                          CopyListener& listener) = 0;
    // What copyFile would do, told and thrown the same way, with nothing written. A name an
    // earlier check would have created counts as present.
    virtual void checkCopy(std::u16string_view source, std::u16string_view destination,
                           CopyListener& listener) = 0;
    // The copies a run's lines will ask for, in order: line i copies `source` to
    // `destination(i)` (as copyFile is given it; nothing for a line that copies nothing), so
    // that the host may write them ahead. Each copyFile still checks and tells its own outcome;
    // a copy not asked for leaves nothing. Until makeDurable.
    virtual void planCopies(std::u16string_view source, std::size_t lines,
                            std::function<std::optional<std::u16string>(std::size_t)> destination) {
        (void)source, (void)lines, (void)destination;
    }
    // Tells `tell` what writing ahead did that no outcome shows (a writer's failure, the counts
    // at the end of a plan); nothing is told while it is empty.
    virtual void tellWritingAhead(std::function<void(std::u16string_view)> tell) { (void)tell; }
    // Keeps every later copy and check off a file (the run's own output, open meanwhile so that
    // its number stays its own): a target that is that file is refused.
    virtual void guardFile(const FileIdentity& file) = 0;
    // A list name the host reads as a path of its own (on POSIX one that starts with "/"), in
    // Windows form; empty when Windows rules cannot carry it. Nothing for any other name,
    // which is used as written.
    virtual std::optional<std::u16string> mapNativeName(std::u16string_view name) = 0;
    // Makes what copies wrote since the last call durable, once per file system they wrote
    // to, and lets go of what earlier lines held; throws PlatformError when the system reports
    // that written data was lost.
    virtual void makeDurable() {}
    // The folder of what the program reads: the executable's own on Windows; on POSIX the
    // data folder of the same install (share/quorvane from lib/quorvane).
    virtual std::u16string installationFolder() = 0;
};
