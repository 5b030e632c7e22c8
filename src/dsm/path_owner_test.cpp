#include "dsm/path_owner.h"

#include <gtest/gtest.h>

#include "dsm/fake_wmi_test.h"
#include "dsm/properties.h"

namespace dsm {
namespace {

using namespace dsm::testing;
using Found = scsi::PathOwner::Found;

SanPath Path(uint64_t id, std::array<uint8_t, 4> address) {
  SanPath p;
  p.id = id;
  p.address = address;
  return p;
}

TEST(ScsiAddressKeyOf, TwoUpperCaseDigitsPerFieldAndNothingPastAByte) {
  const std::pair<scsi::ScsiAddress, std::string> cases[] = {
      {{2, 0, 0, 1}, "02000001"},
      {{255, 16, 171, 10}, "FF10AB0A"},
      {{258, 0, 0, 1}, ""},  // cut to a byte it would be 02000001
      {{2, 0, 0, 0x101}, ""},
  };
  for (const auto& [address, key] : cases) {
    EXPECT_EQ(ScsiAddressKeyOf(address), key) << key;
  }
}

class PathOwnerTest : public FakeWmiTest {
 protected:
  // Device A (0123ABCD-01): 2.0.0.1 and 3.0.1.1; B (0123ABCD-02): 2.0.1.2;
  // C (0123ABCD-03): 3.0.0.3, 2.0.2.3.
  void InstallThree() {
    Install(*wmi_,
            {{L"A", 2, 2, 0x0123ABCD, 1, {Path(0x11, {2, 0, 0, 1}), Path(0x12, {3, 0, 1, 1})}},
             {L"B", 2, 2, 0x0123ABCD, 2, {Path(0x21, {2, 0, 1, 2})}},
             {L"C", 2, 2, 0x0123ABCD, 3, {Path(0x31, {3, 0, 0, 3}), Path(0x32, {2, 0, 2, 3})}}});
  }
  // The performance record of the `n`th path (device order, path order).
  FakeObject& Perf(size_t n) {
    auto perf = ReadObjectArray(*wmi_->instances[L"ORNDSM_PERFINFO"][0], L"PerfInfo").Elements;
    return static_cast<FakeObject&>(*perf.at(n));
  }
};

TEST_F(PathOwnerTest, TheLunOfThePathWithTheAddress) {
  InstallThree();
  const std::pair<scsi::ScsiAddress, std::string> found[] = {
      {{2, 0, 0, 1}, "0123ABCD-01"},
      {{3, 0, 1, 1}, "0123ABCD-01"},
      {{2, 0, 1, 2}, "0123ABCD-02"},
      {{2, 0, 2, 3}, "0123ABCD-03"},
  };
  for (const auto& [address, serial] : found) {
    scsi::PathOwner owner = PathOwnerOf(address);
    EXPECT_EQ(owner.found, Found::kSerial) << serial;
    EXPECT_EQ(owner.serial, serial);
  }
  for (scsi::ScsiAddress address :
       std::vector<scsi::ScsiAddress>{{2, 0, 0, 2}, {4, 0, 0, 1}, {258, 0, 0, 1}, {2, 256, 0, 1}}) {
    EXPECT_EQ(PathOwnerOf(address).found, Found::kNoPath) << address.PortNumber;
  }
}

TEST_F(PathOwnerTest, TheSerialIsTheOnePathinfoShowsBesideThePath) {
  InstallThree();
  // C's second path reports another serial: the LUN's is that of its first path.
  std::vector<uint8_t> identifier = {2, 0, 2, 3};
  identifier.resize(20, 0);
  for (uint8_t b : {0x0F, 0x0F, 0x0F, 0x0F, 0x09, 0x01}) identifier.push_back(b);
  Perf(4).Set(L"Identifier", Bytes(identifier));
  EXPECT_EQ(PathOwnerOf({2, 0, 2, 3}).serial, "0123ABCD-03");
  // A's first path loses its record: pathinfo shows none of A's paths, and
  // none is found here.
  Perf(0).Set(L"Identifier", Bytes({9, 9, 9, 9}));
  EXPECT_EQ(PathOwnerOf({3, 0, 1, 1}).found, Found::kNoPath);
  EXPECT_EQ(PathOwnerOf({2, 0, 1, 2}).serial, "0123ABCD-02");
}

TEST_F(PathOwnerTest, UnreadableRecordsAndRefusedBlocks) {
  const struct {
    const wchar_t* cls;
    HResult fault;
    Found found;
  } cases[] = {
      {L"ORNDSM_QueryLBPolicy", status::kWbemAccessDenied, Found::kUnreadable},
      {L"ORNDSM_PERFINFO", status::kWbemAccessDenied, Found::kUnreadable},
      {L"MPIO_GET_DESCRIPTOR", status::kWbemAccessDenied, Found::kUnreadable},
      // A driver block without instances is refused; it is empty, not unreadable.
      {L"ORNDSM_PERFINFO", status::kWbemNotSupported, Found::kNoPath},
  };
  for (const auto& c : cases) {
    wmi_ = std::make_shared<FakeServices>();
    WmiServices() = wmi_;
    InstallThree();
    if (c.fault == status::kWbemNotSupported) wmi_->instances[c.cls].clear();
    wmi_->faults->openEnum[c.cls] = c.fault;
    EXPECT_EQ(PathOwnerOf({2, 0, 0, 1}).found, c.found) << platform::ToConsoleText(c.cls);
  }
  WmiServices().reset();
  EXPECT_EQ(PathOwnerOf({2, 0, 0, 1}).found, Found::kUnreadable);
}

}  // namespace
}  // namespace dsm
