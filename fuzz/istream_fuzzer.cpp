// The read-only memory stream driven by a script of operations, each checked
// against a plain model of the block: an offset that may stand outside it, a
// reference count. Input: the block's length (one byte), the block, then the
// operations. The block is a heap copy of exactly that length, so a read past
// either end is the sanitizer's to report.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imaging/my_istream.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

class Script {
public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Done() const { return pos_ >= size_; }
    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint32_t U32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | Byte();
        return value;
    }
    std::uint64_t U64() { return std::uint64_t{U32()} << 32 | U32(); }
    std::vector<std::uint8_t> Take(std::size_t count) {
        count = std::min(count, size_ - std::min(pos_, size_));
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + count);
        pos_ += count;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Displacements that land near the interesting places: the ends of the
// block, the 32-bit boundaries, and far away.
std::int64_t Displacement(Script& script, std::int64_t size) {
    switch (script.Byte() % 6) {
    case 0: return static_cast<std::int8_t>(script.Byte());
    case 1: return size + static_cast<std::int8_t>(script.Byte());
    case 2: return -size + static_cast<std::int8_t>(script.Byte());
    case 3: return static_cast<std::int64_t>(script.U64());
    case 4: return std::int64_t{0x7FFFFFFF} + static_cast<std::int8_t>(script.Byte());
    default: return static_cast<std::int32_t>(script.U32());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script(data, size);
    const std::vector<std::uint8_t> contents = script.Take(script.Byte());
    // An empty block still needs a unique pointer to stand for it.
    auto* block = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(contents.size(), 1)));
    if (!contents.empty()) std::memcpy(block, contents.data(), contents.size());
    const auto length = static_cast<std::int64_t>(contents.size());

    auto* stream = new MyIStream(block, contents.size());
    std::int64_t position = 0;  // the model
    std::int32_t references = 1;

    while (!script.Done() && references > 0) {
        switch (script.Byte() % 9) {
        case 0: {  // read into a buffer of exactly the size asked for
            const ULONG count = script.Byte() % 2 ? script.Byte() : static_cast<ULONG>(length + 2);
            std::vector<std::uint8_t> buffer(count, 0xA5);
            std::uint8_t nothing = 0;  // an empty read still names a buffer
            ULONG got = 0xDEADBEEF;
            Require(stream->Read(count ? buffer.data() : &nothing, count, &got) == S_OK);
            std::int64_t expected = 0;
            if (position >= 0 && position <= length) expected = std::min<std::int64_t>(count, length - position);
            Require(got == expected);
            if (got > 0) Require(std::memcmp(buffer.data(), block + position, got) == 0);
            position += expected;
            break;
        }
        case 1: {  // a huge count that the block cannot satisfy
            const ULONG count = 0xFFFFFFFF - script.Byte();
            std::int64_t expected = 0;
            if (position >= 0 && position <= length) expected = length - position;
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(expected) + 1);
            ULONG got = 0;
            Require(stream->Read(buffer.data(), count, &got) == S_OK);
            Require(got == expected);
            if (got > 0) Require(std::memcmp(buffer.data(), block + position, got) == 0);
            position += expected;
            break;
        }
        case 2: {
            ULONG got = 7;
            Require(stream->Read(nullptr, script.Byte(), &got) == STG_E_INVALIDPOINTER);
            Require(got == 7);
            break;
        }
        case 3: {
            const DWORD origin = script.Byte() % 4;
            const std::int64_t displacement = Displacement(script, length);
            const std::int64_t move = static_cast<std::int32_t>(static_cast<std::uint32_t>(displacement));
            if (origin == STREAM_SEEK_SET) position = move;
            if (origin == STREAM_SEEK_CUR) position += move;
            if (origin == STREAM_SEEK_END) position = length + move;
            std::uint64_t reported = 0xDEADBEEFDEADBEEF;
            const bool wantReport = script.Byte() % 4 != 0;
            const HRESULT result = stream->Seek(displacement, origin, wantReport ? &reported : nullptr);
            Require(result == (position < 0 || position > length ? STG_E_INVALIDFUNCTION : S_OK));
            if (wantReport) Require(reported == static_cast<std::uint32_t>(position));
            break;
        }
        case 4: {
            STATSTG stat;
            stat.pwcsName = reinterpret_cast<char*>(0x1);
            Require(stream->Stat(&stat, script.Byte()) == S_OK);
            Require(stat.cbSize == static_cast<std::uint64_t>(length));
            Require(stat.type == STGTY_LOCKBYTES && stat.pwcsName == nullptr);
            Require(stream->Stat(nullptr, 0) == STG_E_INVALIDPOINTER);
            break;
        }
        case 5: {
            const IID* iids[] = {&IID_IUnknown, &IID_IStream, &IID_ISequentialStream};
            const std::uint8_t which = script.Byte() % 4;
            void* object = reinterpret_cast<void*>(0x1);
            if (which < 3) {
                Require(stream->QueryInterface(*iids[which], &object) == S_OK && object == stream);
                ++references;
            } else {
                IID other = IID_IStream;
                other.Data4[script.Byte() % 8] ^= 1 | script.Byte();
                Require(stream->QueryInterface(other, &object) == E_NOINTERFACE && object == nullptr);
            }
            Require(stream->QueryInterface(IID_IStream, nullptr) == E_POINTER);
            break;
        }
        case 6:
            Require(stream->AddRef() == static_cast<ULONG>(++references));
            break;
        case 7:
            // The last release deletes the stream: the loop ends with it.
            Require(stream->Release() == static_cast<ULONG>(--references));
            break;
        default: {  // what a read-only stream refuses, leaving the position alone
            MyIStream* clone = stream;
            Require(stream->Clone(&clone) == E_NOTIMPL && clone == nullptr);
            ULONG written = 0;
            Require(stream->Write(block, 1, &written) == E_NOTIMPL);
            Require(stream->SetSize(script.U64()) == E_NOTIMPL);
            Require(stream->Commit(0) == E_NOTIMPL && stream->Revert() == E_NOTIMPL);
            Require(stream->LockRegion(0, 1, LOCK_WRITE) == E_NOTIMPL);
            Require(stream->UnlockRegion(0, 1, LOCK_WRITE) == E_NOTIMPL);
            break;
        }
        }
    }
    while (references > 0) Require(stream->Release() == static_cast<ULONG>(--references));
    std::free(block);
    return 0;
}
