// A read-only stream over a block of memory that it does not own, with the
// IStream operations and COM's result codes. It lives on the heap, counts its
// references atomically and deletes itself at the last Release; the memory
// must outlive it (the program's resources live as long as the process).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/types.h"

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009);

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    bool operator==(const GUID&) const = default;
};
using IID = GUID;
using CLSID = GUID;

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IStream{0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_ISequentialStream{0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STGTY_LOCKBYTES = 3;
constexpr DWORD LOCK_WRITE = 1;

struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

struct STATSTG {
    char* pwcsName = nullptr;
    DWORD type = 0;
    std::uint64_t cbSize = 0;
    FILETIME mtime, ctime, atime;
    DWORD grfMode = 0;
    DWORD grfLocksSupported = 0;
    CLSID clsid{};
    DWORD grfStateBits = 0;
    DWORD reserved = 0;
};

class MyIStream final {
public:
    // The count starts at 1: the creator's reference.
    MyIStream(const std::uint8_t* start, std::size_t length);
    MyIStream(const MyIStream&) = delete;
    MyIStream& operator=(const MyIStream&) = delete;

    HRESULT QueryInterface(const IID& iid, void** object);
    ULONG AddRef();
    ULONG Release();
    // Copies what is left up to count; a short or empty read still succeeds.
    HRESULT Read(void* buffer, ULONG count, ULONG* read);
    HRESULT Write(const void* buffer, ULONG count, ULONG* written);
    // Uses the low 32 bits of the displacement only, as a signed offset. The
    // new position is set and reported before the range test, so a failed
    // seek leaves it outside the block, where reads copy nothing.
    HRESULT Seek(std::int64_t displacement, DWORD origin, std::uint64_t* newPosition);
    HRESULT SetSize(std::uint64_t newSize);
    HRESULT CopyTo(MyIStream* target, std::uint64_t count, std::uint64_t* read, std::uint64_t* written);
    HRESULT Commit(DWORD flags);
    HRESULT Revert();
    HRESULT LockRegion(std::uint64_t offset, std::uint64_t count, DWORD lockType);
    HRESULT UnlockRegion(std::uint64_t offset, std::uint64_t count, DWORD lockType);
    HRESULT Stat(STATSTG* stat, DWORD flags);
    HRESULT Clone(MyIStream** clone);

private:
    ~MyIStream() = default;  // only Release deletes

    const std::uint8_t* start_;
    std::int64_t size_;
    // Offset from start; may lie outside [0, size] after a failed seek.
    std::int64_t position_ = 0;
    std::atomic<std::int32_t> refCount_{1};
};
