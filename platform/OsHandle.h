#pragma once

#include <cstdint>
#include <system_error>
#include <utility>

// An open file or folder of the host (a descriptor or a handle), closed when dropped.
class OsHandle {
  public:
    using Native = std::intptr_t;
    static constexpr Native kNone = -1;

    OsHandle() = default;
    explicit OsHandle(Native native) : m_native(native) {}
    OsHandle(OsHandle&& other) noexcept : m_native(std::exchange(other.m_native, kNone)) {}
    OsHandle& operator=(OsHandle&& other) noexcept {
        std::swap(m_native, other.m_native);
        return *this;
    }
    ~OsHandle() { reset(); }

    Native get() const { return m_native; }
    bool valid() const;
    void reset();
    // Closes now; a close that fails counts as a failed write.
    [[nodiscard]] std::error_code close();

  private:
    Native m_native = kNone;
};
