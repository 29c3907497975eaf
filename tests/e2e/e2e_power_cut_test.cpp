// Power cuts on real file systems in loop-mounted images: whatever a file system writes by
// itself and whatever it leaves for later, a product file is old or new afterwards, never
// zeros or short, and a file torn in the staging folder is never installed.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>

#include "platform/files.h"
#include "tests/support/disk.h"
#include "tests/support/e2e.h"

using e2e::TProduct;
using e2e::TRun;
using kvtest::TLoopDisk;

namespace {

struct TCase {
    TLoopDisk::TKind Kind;
    // The file system writes a file's data before a rename over another file commits, so
    // the updater need not flush it first.
    bool OrdersRenames;
};

// Without a journal, or with one that orders no data, nothing keeps a renamed file's data
// ahead of the rename; nodelalloc places the data at once, so a power cut finds it unwritten
// every time (with delayed allocation it may be written in time, or not).
const TCase Cases[] = {
    {{"ext4 without a journal", "mkfs.ext4 -q -O ^has_journal \"$1\"", "nodelalloc", false}, false},
    {{"ext4 with data=writeback as its default",
      "mkfs.ext4 -q \"$1\" && tune2fs -o journal_data_writeback \"$1\" >/dev/null", "nodelalloc",
      false},
     false},
    {{"ext4 mounted noauto_da_alloc", "mkfs.ext4 -q \"$1\"", "noauto_da_alloc", false}, false},
    {{"ext4 journalled and ordered", "mkfs.ext4 -q \"$1\"", "", false}, true},
    {{"ext4 journalled and ordered, nodelalloc", "mkfs.ext4 -q \"$1\"", "nodelalloc", false}, true},
    {{"xfs", "mkfs.xfs -q \"$1\"", "", false}, false},
    {{"btrfs", "mkfs.btrfs -q \"$1\"", "commit=1", true}, false},
};

std::string Old(int i) {
    return kvtest::RandomBytes(65536, 100 + i);
}
std::string New(int i) {
    return kvtest::RandomBytes(65536, 200 + i);
}
std::string Name(char kind, int i) {
    return std::string(1, kind) + std::to_string(i) + ".bin";
}

void PrintTo(const TCase& c, std::ostream* os) {
    *os << c.Kind.Name;
}

class PowerCut : public ::testing::TestWithParam<TCase> {};

} // namespace

TEST_P(PowerCut, LeavesEveryFileOldOrNewAndNoTornFileIsInstalled) {
    const TCase& c = GetParam();
    TProduct p;
    TLoopDisk disk(p.Dir(), p.Root(), c.Kind);
    if (!disk.Failure().empty()) GTEST_SKIP() << disk.Failure();
    p.Populate();
    EXPECT_EQ(plat::FlushNeededBeforeReplace(p.Dir()), !c.OrdersRenames);

    // "a" files are replaced, "n" files are new, "c" files are unpacked into the staging
    // folder by a clone run from a folder and stay there, as an interrupted run leaves them.
    const std::string root = p.Root();
    for (int i = 0; i < 6; ++i) {
        kvtest::WriteFile(root + "a/" + Name('a', i), New(i));
        p.Write(Name('a', i), Old(i));
    }
    for (int i = 0; i < 2; ++i) kvtest::WriteFile(root + "a/" + Name('n', i), New(10 + i));
    for (int i = 0; i < 4; ++i) {
        kvtest::WriteFile(root + "c-new/" + Name('c', i), New(20 + i));
        kvtest::WriteFile(root + "c-old/" + Name('c', i), Old(20 + i));
        p.Write(Name('c', i), Old(20 + i));
    }
    e2e::Publish(root + "a", p.Site() + "a/components");
    e2e::Publish(root + "c-old", p.Site() + "c/components");
    e2e::Publish(root + "c-new", root + "folder-site");
    ASSERT_TRUE(disk.Sync());

    TRun run =
        p.Run({"/CloneToPath", root + "clone/", "/UpdateFromUncPath", root + "folder-site/"});
    ASSERT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    ASSERT_TRUE(p.Exists("tmp/" + Name('c', 3)));
    kvtest::TNginx nginx(p.Site());
    p.UseUrl(nginx.Url("/a/"));
    run = p.Run();
    ASSERT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    ASSERT_EQ(p.Read(Name('a', 5)), New(5));

    ASSERT_TRUE(disk.PowerCut());
    for (int i = 0; i < 6; ++i) {
        const std::string now = p.Read(Name('a', i));
        EXPECT_TRUE(now == Old(i) || now == New(i))
            << Name('a', i) << ": " << now.size() << " bytes";
    }
    for (int i = 0; i < 2; ++i) {
        const std::string now = p.Read(Name('n', i));
        EXPECT_TRUE(!p.Exists(Name('n', i)) || now == New(10 + i))
            << Name('n', i) << ": " << now.size() << " bytes";
    }

    // A site that holds the "c" files as they are: whatever the staging folder kept of the
    // other version, whole or torn, is not installed.
    p.UseUrl(nginx.Url("/c/"));
    run = p.Run();
    EXPECT_EQ(run.Status, 0) << ::testing::PrintToString(run.Log);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(p.Read(Name('c', i)) == Old(20 + i)) << Name('c', i);
        EXPECT_FALSE(p.Exists("tmp/" + Name('c', i)));
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, PowerCut, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<TCase>& info) {
                             std::string name;
                             for (const char* p = info.param.Kind.Name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });
