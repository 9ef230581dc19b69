#include "platform/OsHandle.h"

#include <cerrno>
#include <unistd.h>

bool OsHandle::valid() const {
    return m_native >= 0;
}

void OsHandle::reset() {
    if (valid())
        ::close(static_cast<int>(std::exchange(m_native, kNone)));
}

std::error_code OsHandle::close() {
    if (!valid() || ::close(static_cast<int>(std::exchange(m_native, kNone))) == 0)
        return {};
    return {errno, std::generic_category()};
}
