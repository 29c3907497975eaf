// TCABFile when the cabinet library lacks a function it needs: the test program lies beside a
// cabinet.dll of ours that has FDICreate and FDIIsCabinet only, which the system's loader takes
// before its own.
#include <gtest/gtest.h>

#include "cab/cabfiles.h"
#include "tests/support/support.h"

TEST(CabinetLibrary, AMissingFunctionFailsTheExtractionWithoutACrash) {
    kvtest::TTempDir dir;
    TCABFile cab;
    cab.CABFile = kvtest::WinePath(KV_GCAB_CABINETS) + "\\mszip.cab";
    cab.TargetPath = dir.File("out");
    EXPECT_FALSE(cab.ExtractFile("a.txt"));
    EXPECT_EQ(cab.ExtractFailure(), "cabinet library not available");
    EXPECT_FALSE(dir.Exists("out\\a.txt"));
    EXPECT_FALSE(cab.ReadContents());
}
