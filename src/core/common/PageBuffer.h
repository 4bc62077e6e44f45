#pragma once

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

namespace tvx {

// A fixed-size byte buffer that starts on a page boundary. The kernel copies file and socket
// bytes into such a buffer at full speed; some processors copy several times slower into a
// heap block, which starts a few bytes past a 32-byte boundary.
class PageBuffer {
public:
    static constexpr size_t kPage = 4096;

    explicit PageBuffer(size_t size)
        : m_size(size), m_bytes(static_cast<char*>(std::aligned_alloc(kPage, Rounded(size)))) {
        if (!m_bytes)
            throw std::bad_alloc();
    }

    char* data() { return m_bytes.get(); }
    const char* data() const { return m_bytes.get(); }
    size_t size() const { return m_size; }

private:
    // aligned_alloc takes a whole number of pages; at least one.
    static size_t Rounded(size_t size) {
        return (std::max<size_t>(size, 1) + kPage - 1) / kPage * kPage;
    }

    struct Free {
        void operator()(char* bytes) const { std::free(bytes); }
    };
    size_t m_size;
    std::unique_ptr<char, Free> m_bytes;
};

}  // namespace tvx
