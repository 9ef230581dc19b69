#pragma once

#include <stdexcept>
#include <string>
#include <system_error>

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
    ForeignInSticky,
    AppendOnly,
    NoSpace,
    Busy,
    NotEncrypted,
    OwnOutput,
    TargetChanged,
    ForeignLink,
    PseudoFs,
};

// The one failure a platform call raises: the description the error report shows, and what
// failed as an error code (the generic category for errno values, the system category for
// Win32 errors), so that callers can tell "nothing there" from a real fault by std::errc.
class PlatformError : public std::runtime_error {
  public:
    PlatformError(std::u16string description, std::error_code code, Refusal refusal = Refusal::None)
        : std::runtime_error("platform failure"), m_description(std::move(description)),
          m_code(code), m_refusal(refusal) {}
    // An errno value, on either host.
    PlatformError(std::u16string description, int errnoValue = 0, Refusal refusal = Refusal::None)
        : PlatformError(std::move(description),
                        std::error_code(errnoValue, std::generic_category()), refusal) {}

    const std::u16string& description() const { return m_description; }
    const std::error_code& code() const { return m_code; }
    Refusal refusal() const { return m_refusal; }

    // The disk or the user's quota is full.
    static bool isNoSpace(const std::error_code& code);
    // Missing file or folder, another drive, a share, a name no host can carry.
    bool isNotFound() const;
    // Nothing there at all: no such file or folder, a file where a folder should be, a share.
    // Narrower than isNotFound: a name too long or not representable was never looked at.
    bool isMissing() const;

    // A failure described by an errno value (either host) or a GetLastError() value (Windows).
    static PlatformError fromErrno(int code);
    static PlatformError fromWin32(unsigned long code);
    // The host's own failure of a kind, with its text: what the host would have thrown.
    static PlatformError fromCondition(std::errc condition);
    // The failure an error code says, with the host's text.
    static PlatformError fromCode(const std::error_code& code);
    // A copy refused by a rule of ours rather than by the host.
    static PlatformError refused(Refusal refusal);

  private:
    std::u16string m_description;
    std::error_code m_code;
    Refusal m_refusal;
};
