#pragma once
// What the Windows transports share: threads for the system's network calls that may outlive the
// request that started them.

// Winsock before the rest of the system headers, which would otherwise bring in its old form.
#include <winsock2.h>

#include <windows.h>

#include <functional>
#include <memory>

namespace nuv::detail {

// Starts a thread that runs work. The thread holds a reference to the module the code lives in
// until work has returned, so that a call given up on (one that waits for the network after its
// request has gone) can come back even once the host has unloaded the plug-in. Returns the
// thread's handle, which the caller closes (after waiting for it, or not); null when no thread
// could be started.
inline HANDLE StartPinnedThread(std::function<void()> work) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&StartPinnedThread),
                       &module);
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            HMODULE self = nullptr;
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(&StartPinnedThread), &self);
            {
                const std::unique_ptr<std::function<void()>> run(
                    static_cast<std::function<void()>*>(parameter));
                (*run)();
            }
            FreeLibraryAndExitThread(self, 0);
        },
        owned.get(), 0, nullptr);
    if (thread)
        (void)owned.release();
    else if (module)
        FreeLibrary(module);
    return thread;
}

} // namespace nuv::detail
