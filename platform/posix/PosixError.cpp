#include "platform/PlatformError.h"

#include "shared/Text.h"

#include <cerrno>
#include <cstring>

bool PlatformError::isNotFound() const {
    switch (m_code) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EILSEQ:
    case ENODEV:
    case EHOSTUNREACH:
        return true;
    default:
        return false;
    }
}

PlatformError PlatformError::fromErrno(int code) {
    char buffer[256];
    return PlatformError(toWide(strerror_r(code, buffer, sizeof buffer)), code);
}
