#include "session/rdp/lazy_libraries.h"

#include <dlfcn.h>

#include <cstring>
#include <vector>

namespace tclink::lazy {

namespace {

// The zero-ended names one after the other, as a list.
std::vector<const char*> split(const char* names, std::uint32_t count)
{
    std::vector<const char*> list;
    list.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        list.push_back(names);
        names += std::strlen(names) + 1;
    }
    return list;
}

// What the loader said went wrong, or `otherwise` when it says nothing.
std::string loaderError(const std::string& otherwise)
{
    const char* error = ::dlerror();
    return error != nullptr ? std::string(error) : otherwise;
}

} // namespace

const std::string& Libraries::load()
{
    std::call_once(once_, [this] { failure_ = loadAll(); });
    return failure_;
}

void* Libraries::function(std::uint32_t index) const
{
    return __atomic_load_n(&table_.slots[index], __ATOMIC_ACQUIRE);
}

std::string Libraries::loadAll()
{
    std::vector<void*> handles;
    for (const char* soname : split(table_.sonames, table_.libraryCount)) {
        // Global, as if linked: plug-ins the libraries load later find their symbols. Bound now,
        // so that a library that does not fit the others fails here and not in a later call.
        void* handle = ::dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
        if (handle == nullptr)
            return loaderError(std::string(soname) + ": cannot be loaded");
        handles.push_back(handle);
    }
    const std::vector<const char*> names = split(table_.names, table_.count);
    std::vector<void*> functions;
    functions.reserve(names.size());
    for (std::uint32_t i = 0; i < table_.count; ++i) {
        ::dlerror();
        void* function = ::dlsym(handles[table_.libraries[i]], names[i]);
        if (function == nullptr)
            return loaderError(std::string(names[i]) + ": no such function");
        functions.push_back(function);
    }
    // Threads may be calling stubs meanwhile: each slot changes at once from the resolver to
    // the function.
    for (std::uint32_t i = 0; i < table_.count; ++i)
        __atomic_store_n(&table_.slots[i], functions[i], __ATOMIC_RELEASE);
    return {};
}

} // namespace tclink::lazy
