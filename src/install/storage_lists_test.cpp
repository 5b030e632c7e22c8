#include "install/storage_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace install {
namespace {

using Strings = std::vector<std::string>;

std::string Bytes(const char* data, size_t size) { return std::string(data, size); }

TEST(StorageLists, EntriesEndAtTheEmptyStringOrTheStoredSize) {
  struct Case {
    std::string bytes;
    Strings entries;
  } cases[] = {
      {Bytes("a\0bc\0\0", 6), {"a", "bc"}},
      {Bytes("\0", 1), {}},
      {"", {}},
      // Stored without terminators: the last entry ends with the value.
      {"ab", {"ab"}},
      {Bytes("a\0b", 3), {"a", "b"}},
      // An empty string ends the list, whatever follows it.
      {Bytes("a\0\0b\0\0", 6), {"a"}},
      {Bytes("\0a\0\0", 4), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(ListEntries(c.bytes), c.entries);
  }
  EXPECT_EQ(ListBytes({}), Bytes("\0", 1));
  EXPECT_EQ(ListBytes({"a", "bc"}), Bytes("a\0bc\0\0", 6));
}

TEST(StorageLists, PatternsTakeTwentyFourCharactersAndMatchWithoutCase) {
  EXPECT_EQ(DeviceIdPattern("VELLORANQX-T40512_______"), "SCSI\\DiskVELLORANQX-T40512_______");
  EXPECT_EQ(DeviceIdPattern("VELLORANQX-T40512_______EXTRA"), "SCSI\\DiskVELLORANQX-T40512_______");
  EXPECT_EQ(DeviceIdPattern("SHORT"), "SCSI\\DiskSHORT");

  struct Case {
    Strings entries;
    Strings ids;
    bool match;
  } cases[] = {
      {{"VELLORANQX-T40512_______"}, {"SCSI\\DiskVELLORANQX-T40512_______0001", "GenDisk"}, true},
      {{"velloranqx-t40512_______"}, {"scsi\\diskVELLORANQX-T40512_______0001"}, true},
      {{"OTHER", "VELLORANQX-T40512_______"}, {"GenDisk", "SCSI\\DiskVELLORANQX-T40512___"}, false},
      // Only the first 24 characters of a longer entry count.
      {{"VELLORANQX-T40512_______MORE"}, {"SCSI\\DiskVELLORANQX-T40512_______0001"}, true},
      {{"VELLORANQX-T40512"}, {"SCSI\\DiskVELLORANQX-T40512_______0001"}, true},
      // Blanks are not underscores until the caller converts them.
      {{"VELLORANQX-T40512       "}, {"SCSI\\DiskVELLORANQX-T40512_______0001"}, false},
      {{}, {"SCSI\\DiskVELLORAN"}, false},
      {{"VELLORAN"}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.entries) + " " + testing::PrintToString(c.ids));
    EXPECT_EQ(AnyEntryMatches(c.entries, c.ids), c.match);
  }
  Strings entries = {"VELLORANQX-T40512       ", " a b "};
  BlanksToUnderscores(&entries);
  EXPECT_EQ(entries, (Strings{"VELLORANQX-T40512_______", "_a_b_"}));
}

}  // namespace
}  // namespace install
