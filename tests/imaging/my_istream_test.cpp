#include "imaging/my_istream.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

std::array<std::uint8_t, 20> Numbered() {
    std::array<std::uint8_t, 20> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

TEST(MyIStreamTest, ReadCopiesWhatIsLeftAndSucceedsWhenShortOrEmpty) {
    const auto bytes = Numbered();
    auto* stream = new MyIStream(bytes.data(), bytes.size());
    std::uint8_t buffer[10] = {};
    ULONG read = 99;
    ASSERT_EQ(stream->Seek(16, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Read(buffer, 10, &read), S_OK);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(buffer[0], 16);
    EXPECT_EQ(buffer[3], 19);
    EXPECT_EQ(stream->Read(buffer, 10, &read), S_OK);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(stream->Read(nullptr, 10, &read), STG_E_INVALIDPOINTER);
    stream->Seek(0, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(stream->Read(buffer, 3, nullptr), S_OK);
    EXPECT_EQ(stream->Read(buffer, 1, &read), S_OK);
    EXPECT_EQ(buffer[0], 3) << "a read without an out pointer still advances";
    stream->Release();
}

TEST(MyIStreamTest, SeekSetsAndReportsThePositionBeforeTheRangeTest) {
    const auto bytes = Numbered();
    auto* stream = new MyIStream(bytes.data(), bytes.size());
    std::uint8_t buffer[4] = {};
    ULONG read = 99;
    std::uint64_t position = 0;

    EXPECT_EQ(stream->Seek(1, STREAM_SEEK_END, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(position, 21u);
    EXPECT_EQ(stream->Read(buffer, 4, &read), S_OK);
    EXPECT_EQ(read, 0u) << "a failed seek leaves the position outside the block";

    EXPECT_EQ(stream->Seek(-1, STREAM_SEEK_SET, &position), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(position, 0xFFFFFFFFu) << "the low part of the offset, the high part 0";
    EXPECT_EQ(stream->Read(buffer, 4, &read), S_OK);
    EXPECT_EQ(read, 0u);

    EXPECT_EQ(stream->Seek(5, STREAM_SEEK_SET, &position), S_OK);
    EXPECT_EQ(stream->Seek(-2, STREAM_SEEK_CUR, &position), S_OK);
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(stream->Seek(7, 5, &position), S_OK) << "an unknown origin moves nothing";
    EXPECT_EQ(position, 3u);
    EXPECT_EQ(stream->Seek((std::int64_t{1} << 32) + 7, STREAM_SEEK_SET, &position), S_OK);
    EXPECT_EQ(position, 7u) << "only the low 32 bits of the displacement count";
    EXPECT_EQ(stream->Seek(0, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 20u);
    stream->Release();
}

TEST(MyIStreamTest, StatDescribesTheBlockAsByteArray) {
    const std::vector<std::uint8_t> bytes(400, 0xAB);
    auto* stream = new MyIStream(bytes.data(), bytes.size());
    STATSTG stat;
    stat.grfMode = 77;
    ASSERT_EQ(stream->Stat(&stat, 0), S_OK);
    EXPECT_EQ(stat.pwcsName, nullptr);
    EXPECT_EQ(stat.type, 3u);
    EXPECT_EQ(stat.cbSize, 400u);
    EXPECT_EQ(stat.mtime.dwLowDateTime, 1u);
    EXPECT_EQ(stat.mtime.dwHighDateTime, 1u);
    EXPECT_EQ(stat.ctime.dwLowDateTime, 1u);
    EXPECT_EQ(stat.ctime.dwHighDateTime, 1u);
    EXPECT_EQ(stat.atime.dwLowDateTime, 2u);
    EXPECT_EQ(stat.atime.dwHighDateTime, 2u);
    EXPECT_EQ(stat.grfMode, 0u);
    EXPECT_EQ(stat.grfLocksSupported, 1u);
    EXPECT_EQ(stat.clsid, CLSID{});
    EXPECT_EQ(stream->Stat(nullptr, 0), STG_E_INVALIDPOINTER);
    stream->Release();
}

TEST(MyIStreamTest, QueryInterfaceAnswersTheStreamInterfacesOnly) {
    const auto bytes = Numbered();
    auto* stream = new MyIStream(bytes.data(), bytes.size());
    ULONG expected = 2;
    for (const IID& iid : {IID_IUnknown, IID_IStream, IID_ISequentialStream}) {
        void* object = nullptr;
        EXPECT_EQ(stream->QueryInterface(iid, &object), S_OK);
        EXPECT_EQ(object, stream);
        EXPECT_EQ(stream->AddRef(), ++expected) << "the answer took a reference";
        stream->Release();
    }
    const IID other{0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    void* object = stream;
    EXPECT_EQ(stream->QueryInterface(other, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(stream->QueryInterface(IID_IStream, nullptr), E_POINTER);
    for (int i = 0; i < 3; ++i) stream->Release();
    EXPECT_EQ(stream->Release(), 0u);
}

TEST(MyIStreamTest, ReferenceCountHoldsUnderConcurrentChanges) {
    const auto bytes = Numbered();
    auto* stream = new MyIStream(bytes.data(), bytes.size());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([stream] {
            for (int i = 0; i < 20000; ++i) {
                stream->AddRef();
                stream->Release();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
    EXPECT_EQ(stream->Release(), 0u);  // deleted here; the sanitizer build checks for a leak
}

TEST(MyIStreamTest, ChangingOperationsAreNotImplemented) {
    const auto bytes = Numbered();
    auto* stream = new MyIStream(bytes.data(), bytes.size());
    ULONG count = 0;
    std::uint64_t a = 0, b = 0;
    EXPECT_EQ(stream->Write(bytes.data(), 1, &count), E_NOTIMPL);
    EXPECT_EQ(stream->SetSize(4), E_NOTIMPL);
    EXPECT_EQ(stream->CopyTo(stream, 4, &a, &b), E_NOTIMPL);
    EXPECT_EQ(stream->Commit(0), E_NOTIMPL);
    EXPECT_EQ(stream->Revert(), E_NOTIMPL);
    EXPECT_EQ(stream->LockRegion(0, 4, 1), E_NOTIMPL);
    EXPECT_EQ(stream->UnlockRegion(0, 4, 1), E_NOTIMPL);
    MyIStream* clone = stream;
    EXPECT_EQ(stream->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(clone, nullptr);
    std::uint8_t byte = 0;
    EXPECT_EQ(stream->Read(&byte, 1, &count), S_OK);
    EXPECT_EQ(count, 1u) << "nothing was written or moved";
    stream->Release();
}

}  // namespace
