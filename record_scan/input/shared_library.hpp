// A decompression library opened the first time an input needs it. Most
// runs read plain or gzip input, and loading libbz2, liblzma and libzstd at
// every start would cost a small file's run more than reading it; linking
// their static archives instead would bury copies of them in the tools,
// beyond the reach of the distribution's updates.
#pragma once

#include <dlfcn.h>

#include <cstring>

namespace record_scan {

class SharedLibrary {
public:
    // `soname`: the library's ABI name (libzstd.so.1), found where the
    // dynamic loader looks.
    explicit SharedLibrary(const char* soname) : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}

    // Sets `function` to the library's `name`; false (and null) when the
    // library or the name is missing. The type comes from the library's own
    // header, so a changed signature fails to compile rather than at run time.
    template <typename Function>
    bool bind(Function*& function, const char* name) const {
        void* address = handle_ == nullptr ? nullptr : dlsym(handle_, name);
        // POSIX guarantees that an object pointer from dlsym converts to a
        // function pointer; the copy says so without a cast the language
        // leaves conditional.
        static_assert(sizeof function == sizeof address);
        std::memcpy(&function, &address, sizeof function);
        return address != nullptr;
    }

    // The handle stays open for the process: the decoders keep its functions.
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

private:
    void* handle_;
};

// The functions a decoder needs from `soname`, bound by `bind_all(library,
// functions)` on the first call and kept for the process; null when the
// library or any of them is missing, and then that format is unread.
template <typename Functions, typename BindAll>
const Functions* library_functions(const char* soname, BindAll bind_all) {
    static const Functions* const loaded = [&]() -> const Functions* {
        static const SharedLibrary library(soname);
        static Functions functions;
        return bind_all(library, functions) ? &functions : nullptr;
    }();
    return loaded;
}

}  // namespace record_scan
