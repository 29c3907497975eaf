#include <gtest/gtest.h>

#include "app/manifest.h"
#include "platform/files.h"
#include "tests/support/support.h"

namespace {

uint32_t SlowSum(const std::string& bytes) {
    uint32_t sum = 0xFFFFFFFFu;
    for (unsigned char c : bytes) sum += c;
    return sum;
}

TEST(FileSum, SmallFilesAndFilesThatCantBeRead) {
    kvtest::TTempDir dir;
    EXPECT_EQ(FileSum(dir.Write("empty", "")), 0xFFFFFFFFu);
    EXPECT_EQ(FileSum(dir.Write("abc", "abc")), 293u);
    EXPECT_EQ(FileSum(dir.File("missing")), 0xFFFFFFFFu);
    EXPECT_EQ(FileSum(dir.Path()), 0xFFFFFFFFu) << "a folder reads as nothing";
    const std::string page(4096, '\x01');
    EXPECT_EQ(FileSum(dir.Write("page", page)), 4095u);
}

TEST(FileSum, MatchesTheByteLoopAcrossBlockBoundaries) {
    kvtest::TTempDir dir;
    for (size_t size : {size_t(1), size_t(63), size_t(65), size_t(1 << 20), size_t((1 << 20) + 1),
                        size_t(3 * (1 << 20) + 4097)}) {
        const std::string data = kvtest::RandomBytes(size, uint32_t(size));
        EXPECT_EQ(FileSum(dir.Write("f", data)), SlowSum(data)) << size;
    }
}

TEST(FileSum, WrapsModulo2To32) {
    kvtest::TTempDir dir;
    // 17 MiB of 0xFF add up to more than 2^32.
    const std::string data(17u << 20, '\xff');
    const uint64_t exact = 0xFFFFFFFFull + 255ull * data.size();
    EXPECT_EQ(FileSum(dir.Write("ff", data)), uint32_t(exact));
}

TEST(ByteSum, AnyAlignmentAndLengthAndContinuation) {
    const std::string data = kvtest::RandomBytes(700, 7);
    for (size_t offset = 0; offset < 17; ++offset)
        for (size_t len = 0; len + offset <= data.size(); len += 37)
            ASSERT_EQ(ByteSum(data.data() + offset, len), SlowSum(data.substr(offset, len)));
    const uint32_t firstHalf = ByteSum(data.data(), 300);
    EXPECT_EQ(ByteSum(data.data() + 300, 400, firstHalf), SlowSum(data));
}

} // namespace
