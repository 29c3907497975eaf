// The memory stream that carries response bodies.
#include <gtest/gtest.h>

#include "net/stream.h"
#include "platform/exception.h"
#include "tests/support/support.h"

namespace {

TEST(MemoryStream, WriteReadSeekAndGaps) {
    TMemoryStream s;
    EXPECT_EQ(s.Size(), 0);
    s.Write("hello", 5);
    EXPECT_EQ(s.Position(), 5);
    s.SetPosition(1);
    char buffer[8] = {};
    EXPECT_EQ(s.Read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "ell");
    EXPECT_EQ(s.Read(buffer, 8), 1);
    EXPECT_EQ(s.Read(buffer, 8), 0);
    // Writing past the end fills the gap with zeros.
    s.SetPosition(7);
    s.Write("!", 1);
    EXPECT_EQ(s.DataString(), std::string("hello\0\0!", 8));
    s.SetSize(2);
    EXPECT_EQ(s.DataString(), "he");
    EXPECT_EQ(s.Position(), 2);
    s.Clear();
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);
}

TEST(MemoryStream, SaveAndLoadKeepEveryByte) {
    kvtest::TTempDir dir;
    std::string data = kvtest::RandomBytes(200000, 3);
    TMemoryStream s;
    s.Write(data.data(), static_cast<int64_t>(data.size()));
    s.SetPosition(10); // saving does not depend on the position
    s.SaveToFile(dir.File("out.bin"));
    EXPECT_EQ(dir.Read("out.bin"), data);
    TMemoryStream t;
    t.LoadFromFile(dir.File("out.bin"));
    EXPECT_EQ(t.Position(), 0);
    EXPECT_EQ(t.DataString(), data);
    EXPECT_THROW(s.SaveToFile(dir.File("missing/dir/out.bin")), EInOutError);
    EXPECT_THROW(t.LoadFromFile(dir.File("absent")), EInOutError);
}

TEST(MemoryStream, CopyFromWholeSource) {
    TMemoryStream a, b;
    a.Write("abcdef", 6);
    b.Write("x", 1);
    EXPECT_EQ(b.CopyFrom(a, 0), 6);
    EXPECT_EQ(b.DataString(), "xabcdef");
}

} // namespace
