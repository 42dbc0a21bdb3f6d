// Move-only owners of kernel handles, mapped views, TLS slots, registry keys
// and fonts: one type per kind of object, each with its own empty value and
// its own release function.
#pragma once

#include <windows.h>

#include <utility>

namespace dlmgr {

// Traits give the handle type, its empty value and how to release it; the
// empty value is a function because INVALID_HANDLE_VALUE is not a constant.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : value_(value) {}
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueResource() { reset(); }

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Empty(); }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without releasing.
    Type release() noexcept { return std::exchange(value_, Traits::Empty()); }

    void reset(Type value = Traits::Empty()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Empty()) Traits::Release(old);
    }

private:
    Type value_ = Traits::Empty();
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Release(Type h) noexcept { ::CloseHandle(h); }
};
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static void Release(Type h) noexcept { ::CloseHandle(h); }
};
struct ViewTraits {
    using Type = void*;
    static Type Empty() noexcept { return nullptr; }
    static void Release(Type view) noexcept { ::UnmapViewOfFile(view); }
};
struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static void Release(Type key) noexcept { ::RegCloseKey(key); }
};
struct TlsSlotTraits {
    using Type = DWORD;
    static Type Empty() noexcept { return TLS_OUT_OF_INDEXES; }
    static void Release(Type slot) noexcept { ::TlsFree(slot); }
};
struct FontTraits {
    using Type = HFONT;
    static Type Empty() noexcept { return nullptr; }
    static void Release(Type font) noexcept { ::DeleteObject(font); }
};

// CreateFileA reports failure as INVALID_HANDLE_VALUE; the other creators as null.
using UniqueFile = UniqueResource<FileHandleTraits>;
// A tool-help snapshot fails as a file does, with INVALID_HANDLE_VALUE.
using UniqueSnapshot = UniqueResource<FileHandleTraits>;
using UniqueMapping = UniqueResource<KernelHandleTraits>;
using UniqueEvent = UniqueResource<KernelHandleTraits>;
using UniqueMutex = UniqueResource<KernelHandleTraits>;
using UniqueProcess = UniqueResource<KernelHandleTraits>;
using UniqueThread = UniqueResource<KernelHandleTraits>;
using UniqueView = UniqueResource<ViewTraits>;
using UniqueTlsSlot = UniqueResource<TlsSlotTraits>;
using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
using UniqueFont = UniqueResource<FontTraits>;

}  // namespace dlmgr
