#include "platform/PlatformError.h"

PlatformError PlatformError::fromCondition(std::errc condition) {
    return fromErrno(static_cast<int>(condition));
}

PlatformError PlatformError::fromCode(const std::error_code& code) {
    return fromErrno(code.value());
}
