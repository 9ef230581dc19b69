#include "platform/OsHandle.h"

#include <windows.h>

bool OsHandle::valid() const {
    return m_native != kNone && m_native != 0;
}

void OsHandle::reset() {
    if (valid())
        ::CloseHandle(reinterpret_cast<HANDLE>(m_native));
    m_native = kNone;
}

std::error_code OsHandle::close() {
    if (!valid() || ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(m_native, kNone))))
        return {};
    return {static_cast<int>(::GetLastError()), std::system_category()};
}
