#include "imaging/my_istream.h"

#include <algorithm>
#include <cstring>

MyIStream::MyIStream(const std::uint8_t* start, std::size_t length)
    : start_(start), size_(static_cast<std::int64_t>(length)) {}

HRESULT MyIStream::QueryInterface(const IID& iid, void** object) {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IStream || iid == IID_ISequentialStream) {
        *object = this;
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG MyIStream::AddRef() { return static_cast<ULONG>(++refCount_); }

ULONG MyIStream::Release() {
    const std::int32_t count = --refCount_;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT MyIStream::Read(void* buffer, ULONG count, ULONG* read) {
    if (!buffer) return STG_E_INVALIDPOINTER;
    ULONG n = 0;
    if (position_ >= 0 && position_ <= size_) n = static_cast<ULONG>(std::min<std::int64_t>(count, size_ - position_));
    if (n > 0) std::memcpy(buffer, start_ + position_, n);
    position_ += n;
    if (read) *read = n;
    return S_OK;
}

HRESULT MyIStream::Seek(std::int64_t displacement, DWORD origin, std::uint64_t* newPosition) {
    const std::int64_t move = static_cast<std::int32_t>(static_cast<std::uint32_t>(displacement));
    switch (origin) {
        case STREAM_SEEK_SET: position_ = move; break;
        case STREAM_SEEK_CUR: position_ += move; break;
        case STREAM_SEEK_END: position_ = size_ + move; break;
        default: break;
    }
    if (newPosition) *newPosition = static_cast<std::uint32_t>(position_);
    return position_ < 0 || position_ > size_ ? STG_E_INVALIDFUNCTION : S_OK;
}

HRESULT MyIStream::Stat(STATSTG* stat, DWORD) {
    if (!stat) return STG_E_INVALIDPOINTER;
    *stat = STATSTG{};
    stat->type = STGTY_LOCKBYTES;
    stat->cbSize = static_cast<std::uint64_t>(size_);
    stat->mtime = {1, 1};
    stat->ctime = {1, 1};
    stat->atime = {2, 2};
    stat->grfLocksSupported = LOCK_WRITE;
    return S_OK;
}

// The stream is read-only and single: nothing else is offered, and no caller
// of these ever gets here with the program's own resources.
HRESULT MyIStream::Write(const void*, ULONG, ULONG*) { return E_NOTIMPL; }
HRESULT MyIStream::SetSize(std::uint64_t) { return E_NOTIMPL; }
HRESULT MyIStream::CopyTo(MyIStream*, std::uint64_t, std::uint64_t*, std::uint64_t*) { return E_NOTIMPL; }
HRESULT MyIStream::Commit(DWORD) { return E_NOTIMPL; }
HRESULT MyIStream::Revert() { return E_NOTIMPL; }
HRESULT MyIStream::LockRegion(std::uint64_t, std::uint64_t, DWORD) { return E_NOTIMPL; }
HRESULT MyIStream::UnlockRegion(std::uint64_t, std::uint64_t, DWORD) { return E_NOTIMPL; }

HRESULT MyIStream::Clone(MyIStream** clone) {
    if (clone) *clone = nullptr;
    return E_NOTIMPL;
}
