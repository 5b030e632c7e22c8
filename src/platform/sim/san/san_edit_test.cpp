#include "platform/sim/san/san_edit.h"

#include <gtest/gtest.h>

#include "platform/sim/san/san_model.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;

// A copy holds its members without spare room, so any member the edit adds
// to the LUN moves the others, the path list among them.
Json TightDocument() {
  const Json parsed = Json::parse(R"({"san": {
    "adapters": [{"port": 2, "wwpn": "2100001B32814A10"}],
    "controllers": [{"wwpn": "50060E8007C3E100"}],
    "luns": [{"serial": "6A0B1C20-01", "lun": 1, "paths": [
      {"id": "0x10", "adapter": 0, "controller": 0}]}]}})");
  Json copy = parsed;
  return copy;
}

TEST(SanEdit, PolicyEditSetsPathsWhenItAddsMembersToTheLun) {
  struct Case {
    const char* name;
    uint32_t policy, failBack;
    Json lun;  // the LUN's members expected afterwards, paths left out
  } cases[] = {
      {"policy and fail-back added",
       1,
       1,
       {{"serial", "6A0B1C20-01"}, {"lun", 1}, {"policy", "FailOver"}, {"failback", true}}},
      {"fail-back only", 2, 1, {{"serial", "6A0B1C20-01"}, {"lun", 1}, {"failback", true}}},
      {"defaults add nothing", 2, 2, {{"serial", "6A0B1C20-01"}, {"lun", 1}}},
  };
  for (const Case& c : cases) {
    Json document = TightDocument();
    Edit edit = SetPolicyEdit(LunKey{"6A0B1C20-01", 0}, c.policy, c.failBack, {{0, 5, true}});
    ASSERT_TRUE(edit(document)) << c.name;
    Json lun = document["san"]["luns"][0];
    EXPECT_EQ(lun["paths"][0]["weight"], 5) << c.name;
    EXPECT_EQ(lun["paths"][0]["primary"], true) << c.name;
    lun.erase("paths");
    EXPECT_EQ(lun, c.lun) << c.name;
  }
}

// Two LUNs; the second has a path without counters, one with only
// pending I/Os and one with every counter.
Json TwoLuns() {
  return Json::parse(R"({"san": {
    "adapters": [{"port": 2, "wwpn": "2100001B32814A10"}],
    "controllers": [{"wwpn": "50060E8007C3E100"}],
    "luns": [
      {"serial": "S-0", "lun": 0, "paths": [{"id": "0x10", "adapter": 0, "controller": 0}]},
      {"serial": "S-1", "lun": 1, "paths": [
        {"id": "0x20", "adapter": 0, "controller": 0},
        {"id": "0x21", "adapter": 0, "controller": 0, "counters": {"pendingIOs": 3}},
        {"id": "0x22", "adapter": 0, "controller": 0, "state": "Standby",
         "counters": {"bytesRead": 1, "bytesWritten": 2, "reads": 3, "writes": 4,
                      "pendingIOs": 5}}]}]}})");
}

// An edit whose LUN or path is not where it says changes nothing at all.
TEST(SanEdit, EditsOfAPlaceTheDocumentDoesNotHoldChangeNothing) {
  struct Case {
    const char* name;
    Edit edit;
  } cases[] = {
      {"policy: serial differs at the index", SetPolicyEdit({"S-1", 0}, 1, 1, {{0, 1, true}})},
      {"policy: index past the list", SetPolicyEdit({"S-1", 2}, 1, 1, {})},
      {"policy: path position past the list",
       SetPolicyEdit({"S-1", 1}, 1, 1, {{0, 1, true}, {3, 1, false}})},
      {"states: serial differs", SetPathStatesEdit({{LunKey{"S-0", 1}, {{0, 5}}}})},
      {"states: path position past the list", SetPathStatesEdit({{LunKey{"S-0", 0}, {{1, 5}}}})},
      {"clear: serial differs", ClearCountersEdit({"S-9", 1})},
  };
  for (Case& c : cases) {
    Json document = TwoLuns();
    EXPECT_FALSE(c.edit(document)) << c.name;
    EXPECT_EQ(document, TwoLuns()) << c.name;
  }
}

TEST(SanEdit, EditsChangeThePathsAtTheirPlaces) {
  Json document = TwoLuns();
  ASSERT_TRUE(SetPathStatesEdit(
      {{LunKey{"S-1", 1}, {{0, 7}, {2, 1}}}, {LunKey{"S-0", 0}, {{0, 5}}}})(document));
  const Json& luns = document["san"]["luns"];
  EXPECT_EQ(luns[1]["paths"][0]["state"], "Standby");
  EXPECT_FALSE(luns[1]["paths"][1].contains("state"));  // untouched
  EXPECT_EQ(luns[1]["paths"][2]["state"], "Online");    // present, so kept
  EXPECT_EQ(luns[0]["paths"][0]["state"], "Failed");

  ASSERT_TRUE(ClearCountersEdit({"S-1", 1})(document));
  EXPECT_FALSE(luns[1]["paths"][0].contains("counters"));
  EXPECT_EQ(luns[1]["paths"][1]["counters"], Json::parse(R"({"pendingIOs": 3})"));
  EXPECT_EQ(luns[1]["paths"][2]["counters"], Json::parse(R"({"pendingIOs": 5})"));

  ASSERT_TRUE(SetPolicyEdit({"S-1", 1}, 4, 2, {{2, 9, false}, {0, 0, true}})(document));
  EXPECT_EQ(luns[1]["paths"][2]["weight"], 9);
  EXPECT_FALSE(luns[1]["paths"][2].contains("primary"));
  EXPECT_EQ(luns[1]["paths"][0]["primary"], true);
  EXPECT_FALSE(luns[1]["paths"][0].contains("weight"));
  EXPECT_FALSE(luns[1]["paths"][1].contains("weight"));
  EXPECT_EQ(luns[1]["policy"], PolicyName(4));
}

}  // namespace
}  // namespace platform::sim
