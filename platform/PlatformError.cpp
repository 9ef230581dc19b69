#include "platform/PlatformError.h"

#include "base/Text.h"

#include <algorithm>
#include <cerrno>
#include <initializer_list>

namespace {

bool isOneOf(const std::error_code& code, std::initializer_list<std::errc> kinds) {
    return std::any_of(kinds.begin(), kinds.end(), [&](std::errc kind) { return code == kind; });
}

} // namespace

PlatformError PlatformError::fromErrno(int code) {
    const std::error_code error(code, std::generic_category());
    return PlatformError(toWide(error.message()), error);
}

bool PlatformError::isNotFound() const {
    return isMissing() ||
           isOneOf(m_code, {std::errc::filename_too_long, std::errc::illegal_byte_sequence,
                            std::errc::no_such_device});
}

bool PlatformError::isNoSpace(const std::error_code& code) {
#ifdef EDQUOT
    if (code == std::error_code(EDQUOT, std::generic_category()))
        return true;
#endif
    return code == std::errc::no_space_on_device;
}

bool PlatformError::isMissing() const {
    return isOneOf(m_code, {std::errc::no_such_file_or_directory, std::errc::not_a_directory,
                            std::errc::host_unreachable});
}

PlatformError PlatformError::refused(Refusal refusal) {
    const auto make = [refusal](const char16_t* text, std::errc kind) {
        return PlatformError(text, std::make_error_code(kind), refusal);
    };
    switch (refusal) {
    case Refusal::ReadOnly:
        return make(u"The destination is read-only.", std::errc::permission_denied);
    case Refusal::Hidden:
        return make(u"The destination is a hidden file.", std::errc::permission_denied);
    case Refusal::SameFile:
        return make(u"The source and the destination are the same file.", std::errc::file_exists);
    case Refusal::NotWritable:
        return make(u"The destination may not be written.", std::errc::permission_denied);
    case Refusal::Folder:
        return make(u"The destination is a folder.", std::errc::is_a_directory);
    case Refusal::NotRegular:
        return make(u"Not an ordinary file.", std::errc::invalid_argument);
    case Refusal::DanglingLink:
        return make(u"The destination is a link to nothing.", std::errc::no_such_file_or_directory);
    case Refusal::Acl:
        return make(u"The destination's access control list cannot be kept.",
                    std::errc::not_supported);
    case Refusal::SourceChanged:
        return make(u"The source changed during the copy.",
                    std::errc::resource_unavailable_try_again);
    case Refusal::ForeignInSticky:
        return make(u"The destination belongs to another user in a folder others may write.",
                    std::errc::permission_denied);
    case Refusal::AppendOnly:
        return make(u"The destination's folder is append-only and takes no temporary file.",
                    std::errc::operation_not_permitted);
    case Refusal::NoSpace:
        return make(u"There is not enough space on the disk to write the destination over.",
                    std::errc::no_space_on_device);
    case Refusal::Busy:
        return make(u"The destination is open in another program.",
                    std::errc::device_or_resource_busy);
    case Refusal::NotEncrypted:
        return make(u"The destination cannot be kept encrypted as the source is.",
                    std::errc::operation_not_supported);
    case Refusal::OwnOutput:
        return make(u"The destination is this run's own output.", std::errc::file_exists);
    case Refusal::TargetChanged:
        return make(u"The destination changed during the copy.",
                    std::errc::resource_unavailable_try_again);
    case Refusal::ForeignLink:
        return make(
            u"The destination is reached through another user's link to what is not theirs.",
            std::errc::permission_denied);
    case Refusal::PseudoFs:
        return make(u"The destination is a setting of the system, not a document.",
                    std::errc::operation_not_permitted);
    case Refusal::None:
        break;
    }
    return make(u"Refused.", std::errc::invalid_argument);
}
