#include "platform/sim/scsi/scsi_unit.h"

#include <gtest/gtest.h>

namespace platform::sim {
namespace {

constexpr uint64_t kKeyA = 0x4B45594141414141;  // "KEYAAAAA"
constexpr uint64_t kKeyB = 0x4B45594242424242;

std::vector<uint8_t> Params(uint64_t key, uint64_t serviceKey) {
  std::vector<uint8_t> list(24, 0);
  for (int i = 0; i < 8; ++i) {
    list[static_cast<size_t>(i)] = static_cast<uint8_t>(key >> (56 - 8 * i));
    list[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(serviceKey >> (56 - 8 * i));
  }
  return list;
}

struct Unit {
  UnitIdentity id{"ORRIN", "VDISK", "0100", {0x00, 0x80, 0x00, 0x02, 'A', 'B'},
                  {0x00, 0x83, 0x00, 0x00}};
  PrState pr;

  ScsiOutcome Out(std::string_view nexus, uint8_t action, uint8_t type, uint64_t key,
                  uint64_t serviceKey) {
    const std::vector<uint8_t> cdb = {0x5F, action, type, 0, 0, 0, 0, 0, 0x18, 0};
    return ExecuteScsi(id, pr, nexus, cdb, Params(key, serviceKey));
  }
  ScsiOutcome In(uint8_t action, uint16_t allocation = 4096) {
    const std::vector<uint8_t> cdb = {0x5E, action, 0, 0, 0, 0, 0,
                                      static_cast<uint8_t>(allocation >> 8),
                                      static_cast<uint8_t>(allocation), 0};
    return ExecuteScsi(id, pr, "x", cdb, {});
  }
};

TEST(ScsiUnit, ReadKeysAndReservationLayouts) {
  Unit u;
  EXPECT_EQ(u.In(0).dataIn, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(u.Out("2.0.1.1", 0x06, 0x06, 0, kKeyA).status, kScsiGood);
  ASSERT_EQ(u.Out("3.0.1.1", 0x06, 0x06, 0, kKeyB).status, kScsiGood);
  ASSERT_EQ(u.Out("2.0.1.1", 0x01, 0x06, kKeyA, 0).status, kScsiGood);
  const std::vector<uint8_t> keys = {0, 0, 0, 2, 0, 0, 0, 16, 'K', 'E', 'Y', 'A', 'A', 'A',
                                     'A', 'A', 'K', 'E', 'Y', 'B', 'B', 'B', 'B', 'B'};
  EXPECT_EQ(u.In(0).dataIn, keys);
  const std::vector<uint8_t> reservation = {0, 0, 0, 2, 0, 0, 0, 16, 'K', 'E', 'Y', 'A',
                                            'A', 'A', 'A', 'A', 0, 0, 0, 0, 0, 6, 0, 0};
  EXPECT_EQ(u.In(1).dataIn, reservation);
  EXPECT_EQ(u.In(1, 10).dataIn.size(), 10u);  // cut to the allocation length
}

// Each row runs on a unit where nexus "a" holds key A with a type 6
// reservation and nexus "b" is registered with key B.
struct OutCase {
  const char* name;
  const char* nexus;
  uint8_t action, type;
  uint64_t key, serviceKey;
  uint8_t status;
  uint8_t senseKey, asc;
  size_t registrations;
  bool reserved;
  uint32_t generation;  // starts at 2
};

TEST(ScsiUnit, ReservationOutRules) {
  const OutCase cases[] = {
      {"reserve by an unregistered nexus", "c", 0x01, 0x06, kKeyA, 0, 0x18, 0, 0, 2, true, 2},
      {"reserve with another nexus's key", "b", 0x01, 0x06, kKeyA, 0, 0x18, 0, 0, 2, true, 2},
      {"reserve while another holds it", "b", 0x01, 0x06, kKeyB, 0, 0x18, 0, 0, 2, true, 2},
      {"holder reserves again, same type", "a", 0x01, 0x06, kKeyA, 0, 0, 0, 0, 2, true, 2},
      {"holder reserves another type", "a", 0x01, 0x05, kKeyA, 0, 0x18, 0, 0, 2, true, 2},
      {"reserve of an unknown type", "b", 0x01, 0x02, kKeyB, 0, 2, 5, 0x24, 2, true, 2},
      {"release by a non-holder", "b", 0x02, 0x06, kKeyB, 0, 0, 0, 0, 2, true, 2},
      {"release by an unregistered nexus", "c", 0x02, 0x06, kKeyA, 0, 0x18, 0, 0, 2, true, 2},
      {"release by the holder", "a", 0x02, 0x06, kKeyA, 0, 0, 0, 0, 2, false, 2},
      {"release of another type", "a", 0x02, 0x05, kKeyA, 0, 2, 5, 0x26, 2, true, 2},
      {"clear by a registrant", "b", 0x03, 0x00, kKeyB, 0, 0, 0, 0, 0, false, 3},
      {"clear with a wrong key", "b", 0x03, 0x00, kKeyA, 0, 0x18, 0, 0, 2, true, 2},
      {"unregister the holder", "a", 0x06, 0x06, 0, 0, 0, 0, 0, 1, false, 3},
      {"unregister another", "b", 0x06, 0x06, 0, 0, 0, 0, 0, 1, true, 3},
      {"unregister when not registered", "c", 0x06, 0x06, 0, 0, 0, 0, 0, 2, true, 2},
      {"register replaces the key", "b", 0x06, 0x06, 0, kKeyA, 0, 0, 0, 2, true, 3},
      {"register a new nexus", "c", 0x06, 0x06, 0, kKeyA, 0, 0, 0, 3, true, 3},
      {"preempt is not offered", "b", 0x04, 0x06, kKeyB, kKeyA, 2, 5, 0x24, 2, true, 2},
      {"preempt, unregistered nexus", "c", 0x04, 0x06, kKeyB, kKeyA, 2, 5, 0x24, 2, true, 2},
      {"register is not offered", "c", 0x00, 0x00, 0, kKeyA, 2, 5, 0x24, 2, true, 2},
      {"preempt and abort is not offered", "c", 0x05, 0x06, 0, kKeyA, 2, 5, 0x24, 2, true, 2},
      {"register and move is not offered", "c", 0x07, 0x00, 0, kKeyA, 2, 5, 0x24, 2, true, 2},
      {"clear ignores scope and type", "b", 0x03, 0x26, kKeyB, 0, 0, 0, 0, 0, false, 3},
      {"reserve of another scope", "a", 0x01, 0x16, kKeyA, 0, 2, 5, 0x24, 2, true, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Unit u;
    u.Out("a", 0x06, 0, 0, kKeyA);
    u.Out("b", 0x06, 0, 0, kKeyB);
    ASSERT_EQ(u.Out("a", 0x01, 0x06, kKeyA, 0).status, kScsiGood);
    const ScsiOutcome out = u.Out(c.nexus, c.action, c.type, c.key, c.serviceKey);
    EXPECT_EQ(out.status, c.status);
    if (c.status == kScsiCheckCondition) {
      ASSERT_EQ(out.sense.size(), 18u);
      EXPECT_EQ(out.sense[2], c.senseKey);
      EXPECT_EQ(out.sense[12], c.asc);
    }
    EXPECT_EQ(u.pr.registrations.size(), c.registrations);
    EXPECT_EQ(u.pr.reservation.has_value(), c.reserved);
    EXPECT_EQ(u.pr.generation, c.generation);
  }
}

TEST(ScsiUnit, MalformedCommandsAreIllegalRequests) {
  Unit u;
  struct Case {
    std::vector<uint8_t> cdb;
    size_t data;
    uint8_t asc;
  } cases[] = {
      {{0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 0x20},           // READ(10): unknown here
      {{0x5F, 0x06, 0, 0, 0, 0, 0, 0, 0x10, 0}, 24, 0x1A},    // list length 16
      {{0x5F, 0x06, 0, 0, 0, 0, 0, 0, 0x18, 0}, 12, 0x1A},    // fewer bytes sent
      {{0x12, 0x01, 0x84, 0, 64, 0}, 0, 0x24},                // unknown page
      {{0x12, 0x00, 0x83, 0, 64, 0}, 0, 0x24},                // page without EVPD
      {{0x5E, 0x02, 0, 0, 0, 0, 0, 0x10, 0, 0}, 0, 0x24},     // REPORT CAPABILITIES
      {{0x5E, 0x00, 0, 0}, 0, 0x20},                          // CDB too short
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> data(c.data, 0);
    const ScsiOutcome out = ExecuteScsi(u.id, u.pr, "a", c.cdb, data);
    EXPECT_EQ(out.status, kScsiCheckCondition);
    ASSERT_EQ(out.sense.size(), 18u);
    EXPECT_EQ(out.sense[0], 0x70);
    EXPECT_EQ(out.sense[2], 5);
    EXPECT_EQ(out.sense[12], c.asc);
  }
}

TEST(ScsiUnit, InquiryAnswers) {
  Unit u;
  const std::vector<uint8_t> standard = {0x12, 0, 0, 0, 0xFF, 0};
  const auto std36 = ExecuteScsi(u.id, u.pr, "a", standard, {}).dataIn;
  ASSERT_EQ(std36.size(), 36u);
  EXPECT_EQ(std::string(std36.begin() + 8, std36.begin() + 16), "ORRIN   ");
  EXPECT_EQ(std::string(std36.begin() + 32, std36.end()), "0100");
  const std::vector<uint8_t> pages = {0x12, 1, 0, 0, 0xFF, 0};
  EXPECT_EQ(ExecuteScsi(u.id, u.pr, "a", pages, {}).dataIn,
            (std::vector<uint8_t>{0, 0, 0, 3, 0, 0x80, 0x83}));
  const std::vector<uint8_t> tur = {0, 0, 0, 0, 0, 0};
  EXPECT_EQ(ExecuteScsi(u.id, u.pr, "a", tur, {}).status, kScsiGood);
}

}  // namespace
}  // namespace platform::sim

namespace platform::sim {
namespace {

// "a" holds a reservation of `type`; "b" and "c" are registered too.
Unit ThreeRegistrants(uint8_t type) {
  Unit u;
  u.Out("a", 0x06, 0, 0, kKeyA);
  u.Out("b", 0x06, 0, 0, kKeyB);
  u.Out("c", 0x06, 0, 0, kKeyB);
  EXPECT_EQ(u.Out("a", 0x01, type, kKeyA, 0).status, kScsiGood);
  return u;
}

std::string Pending(const PrState& pr) {
  std::string text;
  for (const auto& p : pr.unitAttentions) {
    text += p.nexus + ":";
    for (uint16_t code : p.codes) {
      text += " " + std::to_string(code >> 8) + "/" + std::to_string(code & 0xFF);
    }
    text += ";";
  }
  return text;
}

TEST(ScsiUnit, ReservationChangesTellTheOtherRegistrants) {
  struct Case {
    const char* name;
    uint8_t type;
    const char* nexus;
    uint8_t action;
    uint64_t key, serviceKey;
    const char* pending;
  } cases[] = {
      {"release, write exclusive", 1, "a", 0x02, kKeyA, 0, ""},
      {"release, exclusive access", 3, "a", 0x02, kKeyA, 0, ""},
      {"release, write exclusive, registrants only", 5, "a", 0x02, kKeyA, 0, "b: 42/4;c: 42/4;"},
      {"release, exclusive access, registrants only", 6, "a", 0x02, kKeyA, 0,
       "b: 42/4;c: 42/4;"},
      {"release, all registrants", 7, "b", 0x02, kKeyB, 0, "a: 42/4;c: 42/4;"},
      {"release, exclusive access, all registrants", 8, "a", 0x02, kKeyA, 0,
       "b: 42/4;c: 42/4;"},
      {"release by a non-holder", 6, "b", 0x02, kKeyB, 0, ""},
      {"clear", 1, "b", 0x03, kKeyB, 0, "a: 42/3;c: 42/3;"},
      {"holder unregisters, registrants only", 6, "a", 0x06, 0, 0, "b: 42/4;c: 42/4;"},
      {"holder unregisters, exclusive access", 3, "a", 0x06, 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Unit u = ThreeRegistrants(c.type);
    u.Out(c.nexus, c.action, c.type, c.key, c.serviceKey);
    EXPECT_EQ(Pending(u.pr), c.pending);
  }
}

// The reservation is kept by the registrants that stay, and the nexus named
// as its holder is always one of them (a state the machine file accepts).
TEST(ScsiUnit, AllRegistrantsReservationOutlivesItsFirstHolder) {
  for (uint8_t type : {7, 8}) {
    SCOPED_TRACE(type);
    Unit u = ThreeRegistrants(type);
    ASSERT_EQ(u.Out("a", 0x06, 0, 0, 0).status, kScsiGood);
    ASSERT_TRUE(u.pr.reservation.has_value());
    EXPECT_EQ(u.pr.reservation->holder, "b");
    EXPECT_EQ(Pending(u.pr), "");
    EXPECT_EQ(u.Out("c", 0x01, type, kKeyB, 0).status, kScsiGood);  // c holds it still
    ASSERT_EQ(u.Out("b", 0x06, 0, 0, 0).status, kScsiGood);
    EXPECT_EQ(u.pr.reservation->holder, "c");
    ASSERT_EQ(u.Out("c", 0x06, 0, 0, 0).status, kScsiGood);
    EXPECT_FALSE(u.pr.reservation.has_value());
  }
}

TEST(ScsiUnit, UnitAttentionIsReportedOnceAndOnlyWhereItBelongs) {
  Unit u = ThreeRegistrants(6);
  u.Out("a", 0x02, 0x06, kKeyA, 0);  // b and c: RESERVATIONS RELEASED
  u.Out("a", 0x01, 0x06, kKeyA, 0);
  u.Out("a", 0x03, 0x00, kKeyA, 0);  // b and c: RESERVATIONS PREEMPTED too
  const std::vector<uint8_t> tur = {0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> inquiry = {0x12, 0, 0, 0, 36, 0};
  const std::vector<uint8_t> sense = {0x03, 0, 0, 0, 18, 0};
  struct Step {
    const char* nexus;
    const std::vector<uint8_t>* cdb;
    uint8_t status;
    uint8_t key, asc, ascq;  // of the sense (CHECK CONDITION) or the sense data (REQUEST SENSE)
  } steps[] = {
      {"a", &tur, kScsiGood, 0, 0, 0},                      // the one who cleared has none
      {"b", &inquiry, kScsiGood, 0, 0, 0},                  // INQUIRY neither reports nor clears
      {"b", &tur, kScsiCheckCondition, 6, 0x2A, 4},         // oldest first, not executed
      {"b", &tur, kScsiCheckCondition, 6, 0x2A, 3},
      {"b", &tur, kScsiGood, 0, 0, 0},
      {"c", &sense, kScsiGood, 6, 0x2A, 4},                 // REQUEST SENSE returns it as data
      {"c", &sense, kScsiGood, 6, 0x2A, 3},
      {"c", &sense, kScsiGood, 0, 0, 0},                    // then NO SENSE
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.nexus) + " " + std::to_string((*s.cdb)[0]));
    const ScsiOutcome out = ExecuteScsi(u.id, u.pr, s.nexus, *s.cdb, {});
    EXPECT_EQ(out.status, s.status);
    const std::vector<uint8_t>& senseBytes = s.cdb == &sense ? out.dataIn : out.sense;
    if (s.status == kScsiCheckCondition || s.cdb == &sense) {
      ASSERT_EQ(senseBytes.size(), 18u);
      EXPECT_EQ((std::vector<int>{senseBytes[2], senseBytes[12], senseBytes[13]}),
                (std::vector<int>{s.key, s.asc, s.ascq}));
    }
    if (s.cdb == &tur && s.status == kScsiCheckCondition) {
      EXPECT_TRUE(out.changed);
    }
  }
  EXPECT_TRUE(u.pr.unitAttentions.empty());
}

}  // namespace
}  // namespace platform::sim
