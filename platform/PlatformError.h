#pragma once

#include <stdexcept>
#include <string>

// Why a copy was refused before anything was written.
enum class Refusal {
    None,
    ReadOnly,
    Hidden,
    SameFile,
    NotWritable,
    Folder,
    NotRegular,
    DanglingLink,
    Acl,
    SourceChanged,
};

// The one failure a platform call raises: the description the error report shows, and the
// host's error number so that callers can tell "nothing there" from a real fault.
class PlatformError : public std::runtime_error {
  public:
    PlatformError(std::u16string description, int code = 0, Refusal refusal = Refusal::None)
        : std::runtime_error("platform failure"), m_description(std::move(description)),
          m_code(code), m_refusal(refusal) {}

    const std::u16string& description() const { return m_description; }
    int code() const { return m_code; }
    Refusal refusal() const { return m_refusal; }

    // Missing file or folder, another drive, a share, a name no host can carry.
    bool isNotFound() const;

    // A failure described by the host's error number: errno on POSIX, GetLastError() on
    // Windows (each host defines its own).
    static PlatformError fromErrno(int code);
    static PlatformError fromWin32(unsigned long code);
    // A copy refused by a rule of ours rather than by the host.
    static PlatformError refused(Refusal refusal);

  private:
    std::u16string m_description;
    int m_code;
    Refusal m_refusal;
};
