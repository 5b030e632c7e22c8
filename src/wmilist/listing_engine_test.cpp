#include "wmilist/listing_engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "wmilist/fake_listing_test.h"

namespace wmilist {
namespace {

using namespace wmilist::testing;

TEST(SetupAuthAndImp, BuildsTheBlanketFromLevelsAndIdentity) {
  const std::wstring longDomain(300, L'D');
  struct Case {
    const char* what;
    uint32_t currentAuthn;
    const wchar_t* authority;
    const wchar_t* user;
    const wchar_t* password;
    uint32_t authn;
    uint32_t imp;
    wmi::Blanket expected;
  };
  auto identity = [](uint32_t a, uint32_t i, std::wstring user, std::wstring domain,
                     std::wstring password) {
    wmi::Blanket b;
    b.authnLevel = a;
    b.impLevel = i;
    b.withIdentity = true;
    b.user = std::move(user);
    b.domain = std::move(domain);
    b.password = std::move(password);
    return b;
  };
  auto plain = [](uint32_t a, uint32_t i) {
    wmi::Blanket b;
    b.authnLevel = a;
    b.impLevel = i;
    return b;
  };
  const Case cases[] = {
      {"nothing given keeps levels", 6, nullptr, nullptr, nullptr, kKeepLevel, kKeepLevel,
       plain(6, 3)},
      {"levels asked for", 6, nullptr, nullptr, nullptr, 2, 4, plain(2, 4)},
      {"impersonate on a kept level", 6, nullptr, nullptr, nullptr, kKeepLevel, 3, plain(6, 3)},
      {"empty texts are none", 6, L"", L"", L"", kKeepLevel, 3, plain(6, 3)},
      {"no authentication identifies", 1, nullptr, L"DOM\\bob", L"pw", kKeepLevel, 3, plain(1, 2)},
      {"domain and user", 6, nullptr, L"DOM\\bob", L"pw", kKeepLevel, 3,
       identity(6, 3, L"bob", L"DOM", L"pw")},
      {"user alone", 6, nullptr, L"bob", L"pw", kKeepLevel, 3, identity(6, 3, L"bob", L"", L"pw")},
      {"split at the first backslash", 6, nullptr, L"A\\B\\C", nullptr, kKeepLevel, 3,
       identity(6, 3, L"B\\C", L"A", L"")},
      {"nothing after the backslash", 6, nullptr, L"DOM\\", L"pw", kKeepLevel, 3,
       identity(6, 3, L"", L"DOM", L"pw")},
      {"leading backslash", 6, nullptr, L"\\bob", L"pw", kKeepLevel, 3,
       identity(6, 3, L"bob", L"", L"pw")},
      {"password alone", 6, nullptr, nullptr, L"pw", kKeepLevel, 3,
       identity(6, 3, L"", L"", L"pw")},
      {"authority alone", 6, L"kerberos:x", nullptr, nullptr, kKeepLevel, 3,
       identity(6, 3, L"", L"", L"")},
  };
  for (const Case& c : cases) {
    TestServices proxy;
    proxy.authn = c.currentAuthn;
    std::wstring authority = c.authority ? c.authority : L"";
    std::wstring user = c.user ? c.user : L"";
    std::wstring password = c.password ? c.password : L"";
    EXPECT_EQ(SetupAuthAndImp(&proxy, c.authority ? &authority : nullptr, c.user ? &user : nullptr,
                              c.password ? &password : nullptr, c.authn, c.imp),
              0)
        << c.what;
    ASSERT_EQ(proxy.blankets.size(), 1u) << c.what;
    const wmi::Blanket& b = proxy.blankets[0];
    EXPECT_EQ(b.authnService, 10u) << c.what;
    EXPECT_EQ(b.authzService, 0u) << c.what;
    EXPECT_EQ(b.capabilities, 0u) << c.what;
    EXPECT_EQ(b.authnLevel, c.expected.authnLevel) << c.what;
    EXPECT_EQ(b.impLevel, c.expected.impLevel) << c.what;
    EXPECT_EQ(b.withIdentity, c.expected.withIdentity) << c.what;
    EXPECT_EQ(b.user, c.expected.user) << c.what;
    EXPECT_EQ(b.domain, c.expected.domain) << c.what;
    EXPECT_EQ(b.password, c.expected.password) << c.what;
  }

  TestServices proxy;
  std::wstring user = longDomain + L"\\bob";
  ASSERT_EQ(SetupAuthAndImp(&proxy, nullptr, &user, nullptr, kKeepLevel, 3), 0);
  EXPECT_EQ(proxy.blankets.at(0).domain, std::wstring(kMaxDomain, L'D'));
  EXPECT_EQ(proxy.blankets.at(0).user, L"bob");
}

TEST(SetupAuthAndImp, PassesFailuresOn) {
  EXPECT_EQ(SetupAuthAndImp(nullptr, nullptr, nullptr, nullptr, kKeepLevel, 3),
            status::kWbemInvalidParameter);
  TestServices refusesQuery;
  refusesQuery.query = status::kNoInterface;
  EXPECT_EQ(SetupAuthAndImp(&refusesQuery, nullptr, nullptr, nullptr, kKeepLevel, 3),
            status::kNoInterface);
  EXPECT_TRUE(refusesQuery.blankets.empty());
  TestServices refusesSet;
  refusesSet.set = status::kAccessDenied;
  EXPECT_EQ(SetupAuthAndImp(&refusesSet, nullptr, nullptr, nullptr, kKeepLevel, 3),
            status::kAccessDenied);
}

std::shared_ptr<TestObject> ErrorObject(std::vector<std::wstring> ancestors) {
  auto error = std::make_shared<TestObject>(L"__ExtendedStatus");
  error->ancestors = std::move(ancestors);
  return error;
}

TEST(ReportWmiError, PrintsEachFormOfErrorObject) {
  const std::string head =
      "ConnectServer failed\nFunctionReturn: WBEM_E_INVALID_NAMESPACE (0x8004100e) \n";
  auto full = ErrorObject({L"__NotifyStatus", L"__ExtendedStatus"});
  full->Add(L"Description", Value::Bstr(L"no such namespace"));
  full->Add(L"Operation", Value::Bstr(L"ConnectServer"));
  full->Add(L"ParameterInfo", Value::Bstr(L"root\\nothing"));
  full->Add(L"ProviderName", Value::Bstr(L"WinMgmt"));
  auto partial = ErrorObject({L"__NotifyStatus", L"__ExtendedStatus"});
  partial->Add(L"Description", Value::Null());
  partial->Add(L"Operation", Value::Bstr(L"x")).read = status::kWbemFailed;
  partial->Add(L"ParameterInfo", Value::I4(7));
  partial->Add(L"ProviderName", Value::Bstr(L"WinMgmt"));
  struct Case {
    const char* what;
    ObjectPtr error;
    std::string details;
  } cases[] = {
      {"no error object", nullptr, ""},
      {"not a status", ErrorObject({}), "Unrecognized Error Object type\n"},
      {"a status without details", ErrorObject({L"__NotifyStatus"}), ""},
      {"every detail", full,
       "Description: no such namespace\nOperation: ConnectServer\n"
       "ParameterInfo: root\\nothing\nProviderName: WinMgmt\n"},
      {"unreadable, null and odd details", partial,
       "Can't get Operation: -2147217407\nProviderName: WinMgmt\n"},
      {"extended but no notify status", ErrorObject({L"__ExtendedStatus"}),
       "Unrecognized Error Object type\nCan't get Description: -2147217406\n"
       "Can't get Operation: -2147217406\nCan't get ParameterInfo: -2147217406\n"
       "Can't get ProviderName: -2147217406\n"},
  };
  for (const Case& c : cases) {
    ListingFixture f;
    f.runtime.error = c.error;
    EXPECT_EQ(ReportWmiError(f.listing, "ConnectServer failed", status::kWbemInvalidNamespace), 1);
    EXPECT_EQ(f.out.Text(), head + c.details + "Abnormal Termination\n") << c.what;
    EXPECT_EQ(f.runtime.error, nullptr) << c.what;  // taken, so not reported twice
  }
}

TEST(FormatProperty, WritesLinesAndReportsFailures) {
  const std::string getFailure =
      "Error: property 'P' - Couldn't get property value\n"
      "FunctionReturn: WBEM_E_NOT_FOUND (0x80041002) \nAbnormal Termination\n";
  struct Case {
    const char* what;
    std::function<void(TestObject&)> setUp;
    const wchar_t* name;
    std::wstring text;
    std::string out;
  } cases[] = {
      {"plain", [](TestObject& o) { o.Add(L"P", Value::I4(2), cim::kUint32); }, L"P",
       L"    P = 0x2\n", ""},
      {"key", [](TestObject& o) { o.Add(L"P", Value::Bstr(L"x"), cim::kString).key = true; }, L"P",
       L"    P* = \"x\"\n", ""},
      {"system property has no qualifiers",
       [](TestObject& o) { o.Add(L"__GENUS", Value::I4(2), cim::kSint32); }, L"__GENUS",
       L"    __GENUS = 0x2\n", ""},
      {"missing", [](TestObject&) {}, L"P", L"", getFailure},
      {"unreadable", [](TestObject& o) { o.Add(L"P", Value::I4(2)).read = status::kWbemNotFound; },
       L"P", L"", getFailure},
      {"qualifier set fails",
       [](TestObject& o) { o.Add(L"P", Value::I4(2)).qualifierSet = status::kWbemFailed; },
       L"P", L"",
       "Could not GetPropertyQualifierSet\n"
       "FunctionReturn: WBEM_E_FAILED (0x80041001) \nAbnormal Termination\n"},
      {"CIMTYPE qualifier fails",
       [](TestObject& o) { o.Add(L"P", Value::I4(2)).cimTypeQualifier = status::kWbemFailed; },
       L"P", L"",
       "Could not get CIMTYPE qualifier\n"
       "FunctionReturn: WBEM_E_FAILED (0x80041001) \nAbnormal Termination\n"},
      {"key qualifier fails",
       [](TestObject& o) { o.Add(L"P", Value::I4(2)).keyQualifier = status::kWbemAccessDenied; },
       L"P", L"",
       "Could not get key qualifier\n"
       "FunctionReturn: WBEM_E_ACCESS_DENIED (0x80041003) \nAbnormal Termination\n"},
      {"no CIMTYPE qualifier is fine",
       [](TestObject& o) { o.Add(L"P", Value::I4(2)).cimTypeQualifier = status::kWbemNotFound; },
       L"P", L"    P = 0x2\n", ""},
      {"bounds unreadable leave the line out",
       [](TestObject& o) {
         Value v = Value::Array(vt::kUi1, {});
         v.upperStatus = status::kFail;
         o.Add(L"P", v);
       },
       L"P", L"", ""},
  };
  for (const Case& c : cases) {
    ListingFixture f;
    f.context.depth = 2;
    TestObject object;
    c.setUp(object);
    std::wstring text = L"before\n";
    EXPECT_EQ(FormatProperty(f.listing, object, c.name, &text), !c.text.empty()) << c.what;
    EXPECT_EQ(Narrow(text), "before\n" + Narrow(c.text)) << c.what;
    EXPECT_EQ(f.out.Text(), c.out) << c.what;
    EXPECT_EQ(f.context.depth, 2) << c.what;
  }
}

bool TwoLines(Listing& listing, const wmi::Object& object, std::wstring* text) {
  static constexpr std::wstring_view kNames[] = {L"A", L"B"};
  return FormatPropertyList(listing, object, kNames, text);
}

const EmbeddedClass kTable[] = {{L"Pair", TwoLines}};

std::shared_ptr<TestObject> Pair(int32_t a, int32_t b) {
  auto pair = std::make_shared<TestObject>(L"Pair");
  pair->Add(L"B", Value::I4(b));
  pair->Add(L"Extra", Value::I4(9));
  pair->Add(L"A", Value::I4(a));
  return pair;
}

Value ObjectArray(std::vector<ObjectPtr> objects) {
  std::vector<Value> elements;
  for (ObjectPtr& o : objects) elements.push_back(Value::Unknown(std::move(o)));
  return Value::Array(vt::kUnknown, std::move(elements));
}

TEST(FormatEmbedded, IndentsObjectsAndArraysOfThem) {
  auto generic = std::make_shared<TestObject>(L"Other");
  generic->Add(L"Name", Value::Bstr(L"g"));
  generic->Add(L"Inner", Value::Unknown(Pair(5, 6)));
  auto nullElement = ObjectArray({Pair(1, 2)});
  nullElement.elements.push_back(Value::Unknown(nullptr));
  struct Case {
    const char* what;
    Value value;
    std::string text;
  } cases[] = {
      {"object by its class's printer", Value::Unknown(Pair(1, 2)),
       "    P = \n      A = 0x1\n      B = 0x2\n"},
      {"array of objects", ObjectArray({Pair(1, 2), Pair(3, 4)}),
       "    P = \n"
       "      instance of Pair {\n        A = 0x1\n        B = 0x2\n       }\n"
       "      instance of Pair {\n        A = 0x3\n        B = 0x4\n       }\n"},
      {"generic printer for other classes", ObjectArray({generic}),
       "    P = \n      instance of Other {\n        Name = \"g\"\n        Inner = \n"
       "          A = 0x5\n          B = 0x6\n       }\n"},
      {"empty array", ObjectArray({}), "    P = \n      <empty array>\n"},
      {"null element leaves the property out", nullElement, ""},
      {"null object leaves the property out", Value::Unknown(nullptr), ""},
  };
  for (const Case& c : cases) {
    ListingFixture f(kTable);
    f.context.depth = 2;
    TestObject object;
    object.Add(L"P", c.value, cim::kObject);
    std::wstring text;
    EXPECT_EQ(FormatProperty(f.listing, object, L"P", &text), !c.text.empty()) << c.what;
    EXPECT_EQ(Narrow(text), c.text) << c.what;
    EXPECT_EQ(f.out.Text(), "") << c.what;
    EXPECT_EQ(f.context.depth, 2) << c.what;
  }
}

// The empty-array line keeps its whole indentation at any depth.
TEST(FormatEmbedded, WritesTheEmptyArrayLineWholeAtAnyDepth) {
  for (int32_t depth : {0, 7, 8, 9, 40}) {
    ListingFixture f;
    f.context.depth = depth;
    std::wstring text;
    ASSERT_TRUE(FormatEmbedded(f.listing, ObjectArray({}), &text));
    EXPECT_EQ(Narrow(text),
              std::string(2 * static_cast<size_t>(depth + 1), ' ') + "<empty array>\n");
    EXPECT_EQ(f.context.depth, depth);
  }
}

TEST(FormatEmbedded, ReportsAnElementWhoseClassCannotBeRead) {
  ListingFixture f(kTable);
  auto broken = Pair(1, 2);
  broken->classRead = status::kWbemFailed;
  std::wstring text = L"kept";
  EXPECT_FALSE(FormatEmbedded(f.listing, ObjectArray({Pair(3, 4), broken}), &text));
  EXPECT_EQ(text, L"kept");
  EXPECT_EQ(f.out.Text(),
            "Couldn't get class property in enumproperties\n"
            "FunctionReturn: WBEM_E_FAILED (0x80041001) \nAbnormal Termination\n");
  EXPECT_EQ(f.context.depth, 0);
  // An object's class that cannot be read only picks the generic printer.
  EXPECT_TRUE(FormatEmbedded(f.listing, Value::Unknown(broken), &text));
  EXPECT_EQ(Narrow(text), "kept  B = 0x2\n  Extra = 0x9\n  A = 0x1\n");
}

TEST(FormatEmbedded, StopsAtTheDepthLimitWithoutDeepRecursion) {
  // Objects nested far deeper than any machine file can hold.
  auto top = std::make_shared<TestObject>(L"Other");
  auto at = top;
  for (int i = 0; i < 2 * kMaxDepth; ++i) {
    auto inner = std::make_shared<TestObject>(L"Other");
    at->Add(L"N", Value::Unknown(inner));
    at = inner;
  }
  at->Add(L"Leaf", Value::I4(1));
  ListingFixture f;
  std::wstring text;
  ASSERT_TRUE(FormatEmbedded(f.listing, Value::Unknown(top), &text));
  EXPECT_EQ(f.context.depth, 0);
  std::string narrow = Narrow(text);
  EXPECT_EQ(narrow.find("Leaf"), std::string::npos);
  const std::string cut = std::string(2 * (kMaxDepth + 1), ' ') + "<too deeply nested>\n";
  ASSERT_GE(narrow.size(), cut.size());
  EXPECT_EQ(narrow.substr(narrow.size() - cut.size()), cut);
  EXPECT_EQ(narrow.substr(0, 6), "  N = ");
}

TEST(FormatAllProperties, SkipsServerAndPathAndLeavesOutFailedLines) {
  ListingFixture f;
  TestObject object;
  object.Add(L"First", Value::I4(1));
  object.Add(L"__server", Value::Bstr(L"me"));
  object.Add(L"__Path", Value::Bstr(L"x"));
  object.Add(L"Bad", Value::I4(1)).read = status::kWbemFailed;
  object.Add(L"Last", Value::Bool(true));
  std::wstring text;
  EXPECT_TRUE(FormatAllProperties(f.listing, object, &text));
  EXPECT_EQ(Narrow(text), "First = 0x1\nLast = TRUE\n");
  EXPECT_EQ(f.out.Text(),
            "Error: property 'Bad' - Couldn't get property value\n"
            "FunctionReturn: WBEM_E_FAILED (0x80041001) \nAbnormal Termination\n");

  ListingFixture g;
  object.getNames = status::kWbemOutOfMemory;
  text = L"kept";
  EXPECT_FALSE(FormatAllProperties(g.listing, object, &text));
  EXPECT_EQ(text, L"kept");
  EXPECT_EQ(g.out.Text(),
            "Couldn't GetNames\n"
            "FunctionReturn: WBEM_E_OUT_OF_MEMORY (0x80041006) \nAbnormal Termination\n");
}

// A services fake with __SystemClass and one listable class "Pair".
struct NamespaceFixture : ListingFixture {
  NamespaceFixture() : ListingFixture(kTable) {
    auto system = std::make_shared<TestObject>(L"__SystemClass");
    system->Add(L"__NAMESPACE", Value::Bstr(L"ROOT\\WMI"));
    services.classes[L"__SystemClass"] = system;
    services.classes[L"pair"] = std::make_shared<TestObject>(L"Pair");
    context.topPrinter = TwoLines;
  }
  TestServices services;
};

TEST(EnumNamespace, ListsTheClassUnderTheNamespaceLine) {
  NamespaceFixture f;
  f.services.enumerator->objects = {Pair(1, 2), Pair(3, 4)};
  EXPECT_EQ(EnumNamespace(f.listing, f.services, L"pair"), 0);
  EXPECT_EQ(f.services.enumerated, L"Pair");  // the class as WMI spells it
  EXPECT_EQ(f.out.Text(),
            "<ROOT\\WMI>\n"
            "  Pair\n    A = 0x1\n    B = 0x2\n\n"
            "  Pair\n    A = 0x3\n    B = 0x4\n\n");
  EXPECT_EQ(f.err.Text(), "");
  EXPECT_EQ(f.context.depth, 0);
  ASSERT_EQ(f.services.enumerator->blankets.size(), 1u);
  EXPECT_EQ(f.services.enumerator->blankets[0].impLevel, 3u);
}

TEST(EnumNamespace, ReportsEachFailingStep) {
  const std::string ns = "<ROOT\\WMI>\n";
  struct Case {
    const char* what;
    std::function<void(NamespaceFixture&)> setUp;
    std::string out;
    std::string err;
  } cases[] = {
      {"no system class",
       [](NamespaceFixture& f) {
         f.services.getObjectFailures[L"__SystemClass"] = MakeHResult(0x80041002);
       },
       "Could not GetObject of __SystemClass in EnumNamespace\n"
       "FunctionReturn: WBEM_E_NOT_FOUND (0x80041002) \nAbnormal Termination\n",
       ""},
      {"no such class", [](NamespaceFixture& f) { f.services.classes.erase(L"pair"); },
       ns + "Could not GetObject of specified class in EnumNamespace\n"
            "FunctionReturn: WBEM_E_NOT_FOUND (0x80041002) \nAbnormal Termination\n",
       "pair\n"},
      {"system class",
       [](NamespaceFixture& f) {
         f.services.classes[L"pair"] = std::make_shared<TestObject>(L"__Odd");
       },
       ns, ""},
      {"enumeration refused",
       [](NamespaceFixture& f) { f.services.openEnum = MakeHResult(0x80041010); },
       ns + "  Pair\nCouldn't create instance enum\n"
            "FunctionReturn: WBEM_E_INVALID_CLASS (0x80041010) \nAbnormal Termination\n",
       ""},
      {"enumerator blanket refused",
       [](NamespaceFixture& f) { f.services.enumerator->set = status::kAccessDenied; },
       ns + "  Pair\nSetupAuthAndImp Failed on CreateInstanceEnum\n"
            "FunctionReturn: 0x80070005 (0x80070005) \nAbnormal Termination\n",
       ""},
      {"next fails after one",
       [](NamespaceFixture& f) {
         f.services.enumerator->objects = {Pair(1, 2), Pair(3, 4)};
         f.services.enumerator->failAt = 1;
         f.services.enumerator->failure = status::kWbemSTimedOut;
       },
       ns + "  Pair\n    A = 0x1\n    B = 0x2\n\nCould not get next instance\n"
            "FunctionReturn: WBEM_S_TIMEDOUT (0x00040004) \nAbnormal Termination\n",
       ""},
  };
  for (const Case& c : cases) {
    NamespaceFixture f;
    c.setUp(f);
    int expected = c.out == ns ? 0 : 1;
    EXPECT_EQ(EnumNamespace(f.listing, f.services, L"pair"), expected) << c.what;
    EXPECT_EQ(f.out.Text(), c.out) << c.what;
    EXPECT_EQ(f.err.Text(), c.err) << c.what;
    EXPECT_EQ(f.context.depth, 0) << c.what;
  }
}

// An enumerator that claims success without an object ends the list
// instead of being asked again forever.
class SilentEnumerator : public TestEnumerator {
 public:
  int calls = 0;
  HResult Next(int32_t, ObjectPtr*, uint32_t* returned) override {
    *returned = 0;
    return ++calls > 3 ? status::kFail : status::kOk;
  }
};

TEST(EnumInstances, EndsWhenNextSucceedsWithoutAnObject) {
  NamespaceFixture f;
  auto silent = std::make_shared<SilentEnumerator>();
  f.services.enumerator = silent;
  EXPECT_EQ(EnumInstances(f.listing, f.services, L"Pair"), 0);
  EXPECT_EQ(silent->calls, 1);
  EXPECT_EQ(f.out.Text(), "Pair\n");
}

TEST(PrintInstance, WritesOnlyTheLineEndWhenThePrinterFails) {
  ListingFixture f;
  TestObject object;
  object.getNames = status::kWbemFailed;
  PrintInstance(f.listing, object);
  EXPECT_EQ(f.out.Text(),
            "Couldn't GetNames\nFunctionReturn: WBEM_E_FAILED (0x80041001) \n"
            "Abnormal Termination\n\n");
  EXPECT_EQ(f.context.depth, 0);
}

TEST(ConnectForListing, ConnectsWithTheContextsCredentials) {
  ListingFixture f;
  f.context.SetNamespacePath(L"\\\\host\\root\\wmi");
  f.context.user = L"DOM\\admin";
  f.context.password = L"secret";
  wmi::ServicesPtr services;
  ASSERT_EQ(ConnectForListing(f.listing, &services), 0);
  EXPECT_EQ(services, f.runtime.locator->services);
  EXPECT_EQ(f.runtime.locator->resource, L"\\\\host\\root\\wmi");
  EXPECT_EQ(f.runtime.locator->user, L"DOM\\admin");
  EXPECT_EQ(f.runtime.locator->password, L"secret");
  const auto& blankets = f.runtime.locator->services->blankets;
  ASSERT_EQ(blankets.size(), 1u);
  EXPECT_TRUE(blankets[0].withIdentity);
  EXPECT_EQ(blankets[0].domain, L"DOM");
  EXPECT_EQ(blankets[0].user, L"admin");
  EXPECT_EQ(f.out.Text(), "");
}

TEST(ConnectForListing, ReportsEachFailingStep) {
  struct Case {
    const char* what;
    std::function<void(TestRuntime&)> setUp;
    std::string out;
  } cases[] = {
      {"no locator", [](TestRuntime& r) { r.createLocator = status::kClassNotReg; },
       "Failed to create IWbemLocator object\nFunctionReturn: 0x80040154 (0x80040154) \n"},
      {"no connection", [](TestRuntime& r) { r.locator->connect = MakeHResult(0x8004100E); },
       "ConnectServer failed\nFunctionReturn: WBEM_E_INVALID_NAMESPACE (0x8004100e) \n"},
      {"no blanket", [](TestRuntime& r) { r.locator->services->query = status::kNoInterface; },
       "SetupAuthAndImp Failed on ConnectServer\nFunctionReturn: 0x80004002 (0x80004002) \n"},
  };
  for (const Case& c : cases) {
    ListingFixture f;
    f.context.SetNamespacePath(L"root\\wmi");
    c.setUp(f.runtime);
    wmi::ServicesPtr services;
    EXPECT_EQ(ConnectForListing(f.listing, &services), 1) << c.what;
    EXPECT_EQ(f.out.Text(), c.out + "Abnormal Termination\n") << c.what;
  }
  ListingContext context;
  context.SetNamespacePath(std::wstring(300, L'n'));
  EXPECT_EQ(context.namespacePath.size(), kMaxNamespacePath);
}

}  // namespace
}  // namespace wmilist
