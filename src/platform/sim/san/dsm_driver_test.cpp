#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/sim/demo_machine.h"
#include "platform/sim/san/san.h"
#include "platform/sim/wmi/sim_object.h"

namespace platform::sim {
namespace {

using Json = nlohmann::ordered_json;
using wmi::ObjectPtr;
using wmi::Value;

constexpr const wchar_t* kMethods = L"ORNDSM_WMI_METHODS";

/// A machine with the SAN installed, and calls made as the program makes
/// them: spawned input objects, values put with the program's types.
struct Machine {
  MachineState state;
  Namespace ns{L"ROOT\\WMI"};
  std::shared_ptr<SanModel> model;

  /// The demo machine; with `demo` false the caller loads a machine.
  explicit Machine(bool demo = true) {
    if (!demo) return;
    state.Adopt(DemoMachine(), "");
    Attach();
  }
  void Attach() {
    std::string error;
    ASSERT_TRUE(InstallSan(state, ns, &error, &model)) << error;
  }

  ObjectPtr Spawn(const wchar_t* className) const {
    ObjectPtr object;
    EXPECT_EQ(ns.ClassObject(className)->SpawnInstance(&object), status::kOk);
    return object;
  }
  ObjectPtr Input(const wchar_t* method) const {
    ObjectPtr signature, in;
    EXPECT_EQ(ns.ClassObject(kMethods)->GetMethod(method, &signature), status::kOk);
    EXPECT_EQ(signature->SpawnInstance(&in), status::kOk);
    return in;
  }
  static void PutObjects(const ObjectPtr& object, const wchar_t* name,
                         const std::vector<ObjectPtr>& elements) {
    std::vector<Value> values;
    for (const ObjectPtr& e : elements) values.push_back(Value::Unknown(e));
    ASSERT_EQ(object->Put(name, Value::Array(wmi::vt::kUnknown, values), 0x200D), status::kOk);
  }

  /// The policy request that keeps a LUN as it is but for `policy`.
  ObjectPtr PolicyRequest(const SanLun& lun, uint32_t policy, uint32_t failBack,
                          ObjectPtr* body = nullptr) const {
    ObjectPtr p = Spawn(L"ORNDSM_Load_Balance_Policy");
    p->Put(L"Version", Value::I4(394544), 0);
    p->Put(L"LoadBalancePolicy", Value::I4(static_cast<int32_t>(policy)), 0);
    p->Put(L"DSMPathCount", Value::I4(static_cast<int32_t>(lun.paths.size())), 0);
    p->Put(L"FailBack", Value::I4(static_cast<int32_t>(failBack)), 0);
    std::vector<ObjectPtr> paths;
    for (const SanPath& path : lun.paths) {
      ObjectPtr e = Spawn(L"MPIO_DSM_PATH");
      e->Put(L"DsmPathId", Value::Bstr(std::to_wstring(path.id)), 0);
      e->Put(L"Reserved", Value::I4(0), 0);
      e->Put(L"PathWeight", Value::I4(static_cast<int32_t>(path.weight)), 0);
      e->Put(L"PrimaryPath", Value::I4(path.primary ? 1 : 0), 0);
      paths.push_back(e);
    }
    PutObjects(p, L"DSM_Paths", paths);
    ObjectPtr in = Input(L"OrnDsmSetLoadBalancePolicy");
    EXPECT_EQ(in->Put(L"LoadBalancePolicy", Value::Unknown(p), 13), status::kOk);
    if (body != nullptr) *body = p;
    return in;
  }

  ObjectPtr StatusRequest(const std::vector<uint64_t>& ids, int32_t pathState,
                          ObjectPtr* body = nullptr) const {
    ObjectPtr s = Spawn(L"DSM_Set_Path_Status");
    s->Put(L"Version", Value::I4(1), 0);
    s->Put(L"DSMPathStatusCount", Value::I4(static_cast<int32_t>(ids.size())), 0);
    std::vector<ObjectPtr> elements;
    for (uint64_t id : ids) {
      ObjectPtr e = Spawn(L"MPIO_DSM_PathStatus");
      e->Put(L"PathId", Value::Bstr(std::to_wstring(id)), 0);
      e->Put(L"Reserved", Value::I4(0), 0);
      e->Put(L"PathStatus", Value::I4(pathState), 0);
      elements.push_back(e);
    }
    PutObjects(s, L"DSM_PathStatus", elements);
    ObjectPtr in = Input(L"OrnDsmSetPathStatus");
    EXPECT_EQ(in->Put(L"setPathStatus", Value::Unknown(s), 13), status::kOk);
    if (body != nullptr) *body = s;
    return in;
  }

  HResult Call(const wchar_t* method, const std::wstring& instance, ObjectPtr in,
               ObjectPtr* out = nullptr) {
    MethodCall call;
    call.className = kMethods;
    call.keyName = L"InstanceName";
    call.keyValue = instance;
    call.in = std::move(in);
    ObjectPtr ignored;
    const MethodHandler* handler = ns.FindMethodHandler(kMethods, method);
    EXPECT_NE(handler, nullptr);
    return (*handler)(call, out != nullptr ? out : &ignored);
  }
  SanLun& Lun(size_t i) { return model->luns[i]; }
};

/// Stores a value without Put's conversion: a value of the wrong VARIANT
/// type reaches the driver only so, since Put converts or refuses it.
void Force(const ObjectPtr& object, const wchar_t* name, Value value) {
  static_cast<SimObject*>(object.get())->Set(name, std::move(value), 0);
}

ObjectPtr Element(const ObjectPtr& body, const wchar_t* array, size_t i) {
  Value v;
  EXPECT_EQ(body->Get(array, &v, nullptr), status::kOk);
  return v.elements.at(i).object;
}

TEST(DsmDriver, SetLoadBalancePolicyStoresTheWholePolicy) {
  Machine m;
  SanLun& lun = m.Lun(2);
  ObjectPtr body;
  ObjectPtr in = m.PolicyRequest(lun, 1, 1, &body);
  Element(body, L"DSM_Paths", 3)->Put(L"PrimaryPath", Value::I4(1), 0);
  Element(body, L"DSM_Paths", 1)->Put(L"PathWeight", Value::I4(-5), 0);
  ObjectPtr out;
  ASSERT_EQ(m.Call(L"OrnDsmSetLoadBalancePolicy", lun.instanceName, in, &out), status::kOk);
  Value statusValue;
  ASSERT_TRUE(out);
  EXPECT_EQ(out->Get(L"Status", &statusValue, nullptr), status::kOk);
  EXPECT_EQ(statusValue.integer, 0);
  EXPECT_EQ(lun.policy, 1u);
  EXPECT_EQ(lun.failBack, 1u);
  EXPECT_TRUE(lun.paths[3].primary);
  EXPECT_EQ(lun.paths[1].weight, 0xFFFFFFFBu);
  // The derived class shows the change at once, and so does the document.
  const auto policies = m.ns.Instances(L"ORNDSM_QueryLBPolicy").value().All();
  Value embedded, number;
  policies[2]->Get(L"LoadBalancePolicy", &embedded, nullptr);
  embedded.object->Get(L"LoadBalancePolicy", &number, nullptr);
  EXPECT_EQ(number.integer, 1);
  const Json& doc = m.state.Document()["san"]["luns"][2];
  EXPECT_EQ(doc["policy"], "FailOver");
  EXPECT_EQ(doc["failback"], true);
  EXPECT_EQ(doc["paths"][1]["weight"], 4294967291u);
  EXPECT_EQ(doc["paths"][3]["primary"], true);
  EXPECT_FALSE(doc["paths"][0].contains("primary"));  // defaults are not written out
}

TEST(DsmDriver, SetLoadBalancePolicyRefusesMalformedInput) {
  struct Case {
    const char* name;
    std::function<void(Machine&, ObjectPtr& in, const ObjectPtr& body)> change;
  };
  const Case cases[] = {
      {"version 1",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) { b->Put(L"Version", Value::I4(1), 0); }},
      {"count differs from the array",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) { b->Put(L"DSMPathCount", Value::I4(3), 0); }},
      {"count and array differ from the LUN",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) {
         b->Put(L"DSMPathCount", Value::I4(3), 0);
         Machine::PutObjects(b, L"DSM_Paths",
                             {Element(b, L"DSM_Paths", 0), Element(b, L"DSM_Paths", 1),
                              Element(b, L"DSM_Paths", 2)});
       }},
      {"path of another LUN",
       [](Machine& m, ObjectPtr&, const ObjectPtr& b) {
         Element(b, L"DSM_Paths", 0)
             ->Put(L"DsmPathId", Value::Bstr(std::to_wstring(m.Lun(0).paths[0].id)), 0);
       }},
      {"same path twice",
       [](Machine& m, ObjectPtr&, const ObjectPtr& b) {
         Element(b, L"DSM_Paths", 0)
             ->Put(L"DsmPathId", Value::Bstr(std::to_wstring(m.Lun(2).paths[1].id)), 0);
       }},
      {"path id as a number",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) {
         Force(Element(b, L"DSM_Paths", 0), L"DsmPathId", Value::I4(0x77020003));
       }},
      {"path id not decimal",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) {
         Force(Element(b, L"DSM_Paths", 0), L"DsmPathId", Value::Bstr(L"0x77020003"));
       }},
      {"path id beyond 64 bits",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) {
         Force(Element(b, L"DSM_Paths", 0), L"DsmPathId", Value::Bstr(L"18446744073709551616"));
       }},
      {"weight as text",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) {
         Force(Element(b, L"DSM_Paths", 2), L"PathWeight", Value::Bstr(L"5"));
       }},
      {"primary missing",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) {
         Element(b, L"DSM_Paths", 2)->Put(L"PrimaryPath", Value::Null(), 0);
       }},
      {"null element",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) {
         Machine::PutObjects(b, L"DSM_Paths",
                             {Element(b, L"DSM_Paths", 0), Element(b, L"DSM_Paths", 1),
                              Element(b, L"DSM_Paths", 2), nullptr});
       }},
      {"paths not an array",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) { Force(b, L"DSM_Paths", Value::I4(4)); }},
      {"element of another class",
       [](Machine& m, ObjectPtr&, const ObjectPtr& b) {
         Machine::PutObjects(b, L"DSM_Paths",
                             {Element(b, L"DSM_Paths", 0), Element(b, L"DSM_Paths", 1),
                              Element(b, L"DSM_Paths", 2), m.Spawn(L"MPIO_DSM_PathStatus")});
       }},
      {"policy 9", [](Machine&, ObjectPtr&,
                      const ObjectPtr& b) { b->Put(L"LoadBalancePolicy", Value::I4(9), 0); }},
      {"fail-back 0",
       [](Machine&, ObjectPtr&, const ObjectPtr& b) { b->Put(L"FailBack", Value::I4(0), 0); }},
      {"version as text", [](Machine&, ObjectPtr&,
                             const ObjectPtr& b) { Force(b, L"Version", Value::Bstr(L"394544")); }},
      {"no input object", [](Machine&, ObjectPtr& in, const ObjectPtr&) { in.reset(); }},
      {"policy not an object",
       [](Machine&, ObjectPtr& in, const ObjectPtr&) {
         Force(in, L"LoadBalancePolicy", Value::I4(1));
       }},
  };
  for (const Case& c : cases) {
    Machine m;
    const SanLun before = m.Lun(2);
    ObjectPtr body;
    ObjectPtr in = m.PolicyRequest(before, 1, 2, &body);
    c.change(m, in, body);
    EXPECT_EQ(m.Call(L"OrnDsmSetLoadBalancePolicy", before.instanceName, in),
              status::kWbemInvalidParameter)
        << c.name;
    EXPECT_FALSE(m.state.Changed()) << c.name;
    EXPECT_EQ(m.Lun(2).policy, before.policy) << c.name;
  }
}

TEST(DsmDriver, UnknownInstanceIsNotFound) {
  Machine m;
  const std::wstring name = m.Lun(0).instanceName + L"x";
  EXPECT_EQ(m.Call(L"OrnDsmSetLoadBalancePolicy", name, m.PolicyRequest(m.Lun(0), 2, 2)),
            status::kWbemNotFound);
  EXPECT_EQ(m.Call(L"OrnDsmSetPathStatus", name, m.StatusRequest({m.Lun(0).paths[0].id}, 5)),
            status::kWbemNotFound);
  EXPECT_EQ(m.Call(L"OrnDsmClearCounters", name, nullptr), status::kWbemNotFound);
  EXPECT_FALSE(m.state.Changed());
}

TEST(DsmDriver, SetPathStatusChangesPathsOfAnyLun) {
  Machine m;
  const uint64_t a = m.Lun(0).paths[1].id, b = m.Lun(4).paths[3].id;
  // Sent to the first LUN's method object, as the program does.
  ASSERT_EQ(m.Call(L"OrnDsmSetPathStatus", m.Lun(0).instanceName, m.StatusRequest({a, b, a}, 5)),
            status::kOk);
  EXPECT_EQ(m.Lun(0).paths[1].state, 5);
  EXPECT_EQ(m.Lun(4).paths[3].state, 5);
  EXPECT_EQ(m.state.Document()["san"]["luns"][4]["paths"][3]["state"], "Failed");
  ASSERT_EQ(m.Call(L"OrnDsmSetPathStatus", m.Lun(0).instanceName, m.StatusRequest({a}, 1)),
            status::kOk);
  EXPECT_EQ(m.Lun(0).paths[1].state, 1);
}

TEST(DsmDriver, SetPathStatusRefusesMalformedInput) {
  struct Case {
    const char* name;
    std::vector<uint64_t> extra;
    int32_t state;
    std::function<void(const ObjectPtr& body)> change;
  };
  const Case cases[] = {
      {"unknown path id", {0x12345}, 5, nullptr},
      {"state 3", {}, 3, nullptr},
      {"version 2", {}, 5, [](const ObjectPtr& b) { b->Put(L"Version", Value::I4(2), 0); }},
      {"count too high",
       {},
       5,
       [](const ObjectPtr& b) { b->Put(L"DSMPathStatusCount", Value::I4(3), 0); }},
      {"state as text",
       {},
       5,
       [](const ObjectPtr& b) {
         Force(Element(b, L"DSM_PathStatus", 0), L"PathStatus", Value::Bstr(L"5"));
       }},
      {"array missing",
       {},
       5,
       [](const ObjectPtr& b) { b->Put(L"DSM_PathStatus", Value::Null(), 0); }},
  };
  for (const Case& c : cases) {
    Machine m;
    std::vector<uint64_t> ids = {m.Lun(1).paths[0].id, m.Lun(3).paths[2].id};
    ids.insert(ids.end(), c.extra.begin(), c.extra.end());
    ObjectPtr body;
    ObjectPtr in = m.StatusRequest(ids, c.state, &body);
    if (c.change) c.change(body);
    EXPECT_EQ(m.Call(L"OrnDsmSetPathStatus", m.Lun(0).instanceName, in),
              status::kWbemInvalidParameter)
        << c.name;
    EXPECT_EQ(m.Lun(1).paths[0].state, 1) << c.name << ": nothing changes on a refused call";
    EXPECT_FALSE(m.state.Changed()) << c.name;
  }
}

TEST(DsmDriver, ClearCountersZeroesOneLun) {
  Machine m;
  const uint32_t pending = m.Lun(0).paths[0].counters.pending;
  ASSERT_EQ(m.Call(L"OrnDsmClearCounters", m.Lun(0).instanceName, nullptr), status::kOk);
  for (const SanPath& p : m.Lun(0).paths) {
    EXPECT_EQ(p.counters.bytesRead + p.counters.bytesWritten + p.counters.reads + p.counters.writes,
              0u);
  }
  EXPECT_EQ(m.Lun(0).paths[0].counters.pending, pending);
  EXPECT_NE(m.Lun(1).paths[0].counters.reads, 0u);
  const Json& counters = m.state.Document()["san"]["luns"][0]["paths"][0]["counters"];
  EXPECT_FALSE(counters.contains("reads"));
}

TEST(DsmDriver, MethodsChangeTheFileWrittenBack) {
  const auto path =
      std::filesystem::temp_directory_path() /
      ("san_edits_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".json");
  Json document = DemoMachine();
  document["san"]["luns"][3]["paths"][2].erase("id");  // its id is derived then
  std::ofstream(path) << document.dump(2);

  Machine m(false);
  std::string error;
  ASSERT_TRUE(m.state.Load(path.string(), &error)) << error;
  m.Attach();
  SanLun& lun = m.Lun(3);
  ObjectPtr body;
  ObjectPtr in = m.PolicyRequest(lun, 6, 2, &body);
  Element(body, L"DSM_Paths", 2)->Put(L"PathWeight", Value::I4(77), 0);
  ASSERT_EQ(m.Call(L"OrnDsmSetLoadBalancePolicy", lun.instanceName, in), status::kOk);
  ASSERT_EQ(m.Call(L"OrnDsmSetPathStatus", lun.instanceName, m.StatusRequest({lun.paths[2].id}, 7)),
            status::kOk);
  ASSERT_EQ(m.Call(L"OrnDsmClearCounters", m.Lun(5).instanceName, nullptr), status::kOk);

  ASSERT_TRUE(m.state.WriteBack(&error)) << error;

  std::ifstream file(path);
  const Json written = Json::parse(file);
  std::filesystem::remove(path);
  const Json& edited = written["san"]["luns"][3];
  ASSERT_EQ(edited["serial"], "6A0B1C20-04");
  EXPECT_EQ(edited["policy"], "LeastBlocks");
  EXPECT_EQ(edited["paths"][2]["weight"], 77);
  EXPECT_EQ(edited["paths"][2]["state"], "Standby");
  EXPECT_FALSE(edited["paths"][2].contains("id"));  // still derived
  EXPECT_FALSE(written["san"]["luns"][5]["paths"][0]["counters"].contains("bytesRead"));
  EXPECT_TRUE(written["san"]["luns"][4]["paths"][0]["counters"].contains("bytesRead"));
}

}  // namespace
}  // namespace platform::sim
