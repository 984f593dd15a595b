#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace tclink::lazy {

// A set of functions of shared libraries that the program calls through stubs written by
// lazy_stubs.py instead of linking the libraries: the program starts without loading them, and
// they are loaded by name (SONAME) when first needed. The generated assembly defines one such
// table, laid out as here.
struct StubTable {
    void** slots;                   // where each stub jumps; at first to the resolver
    const char* names;              // the functions' names, each ended by a zero byte
    const unsigned char* libraries; // for each function, the library (index) that defines it
    const char* sonames;            // the libraries' names, each ended by a zero byte
    std::uint32_t count;            // functions
    std::uint32_t libraryCount;
};

// The libraries behind a stub table.
class Libraries {
public:
    explicit Libraries(const StubTable& table) : table_(table) {}
    Libraries(const Libraries&) = delete;
    Libraries& operator=(const Libraries&) = delete;

    // Loads every library and points every stub at its function, the first time; a call while
    // another thread loads waits for it. Empty when every function was found, else what failed,
    // as the system says it (the library that is missing, the function a library lacks). After
    // a failure no stub is changed and the libraries are not tried again.
    const std::string& load();

    // The function behind stub `index`; load() must have succeeded.
    void* function(std::uint32_t index) const;

private:
    std::string loadAll();

    const StubTable& table_;
    std::once_flag once_;
    std::string failure_;
};

} // namespace tclink::lazy
