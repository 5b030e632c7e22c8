// In-memory stand-ins for what `listen` uses: a machine whose release and
// take-back are recorded, a runtime that makes (or refuses) the sink's
// stub, and services that deliver scripted events when subscribed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dsm/fake_wmi_test.h"
#include "platform/machine.h"

namespace events::testing {

namespace wmi = platform::wmi;
using dsm::testing::FakeServices;
using platform::HResult;

/// What the stub of the unsecured apartment does: forwards to the sink.
class FakeStub : public wmi::EventSink {
 public:
  explicit FakeStub(wmi::EventSinkPtr target) : target_(std::move(target)) {}
  HResult Indicate(const std::vector<wmi::ObjectPtr>& objects) override {
    return target_->Indicate(objects);
  }
  HResult SetStatus(int32_t flags, HResult result, const std::wstring* param,
                    const wmi::ObjectPtr& object) override {
    return target_->SetStatus(flags, result, param, object);
  }

 private:
  wmi::EventSinkPtr target_;
};

/// Every step of the command in order, as the fakes saw it.
using Log = std::vector<std::string>;

class FakeRuntime : public wmi::Runtime {
 public:
  explicit FakeRuntime(Log& log) : log_(log) {}
  HResult stubResult = platform::status::kOk;
  /// The last stub made, kept weakly so tests can see it is released.
  std::weak_ptr<wmi::EventSink> lastStub;
  std::weak_ptr<wmi::EventSink> lastSink;

  HResult Initialize() override { return 0; }
  HResult InitializeSecurity() override { return 0; }
  HResult CreateLocator(wmi::LocatorPtr*) override { return platform::status::kFail; }
  HResult CreateSinkStub(const wmi::EventSinkPtr& sink, wmi::EventSinkPtr* stub) override {
    log_.push_back("stub");
    lastSink = sink;
    if (platform::Failed(stubResult)) return stubResult;
    *stub = std::make_shared<FakeStub>(sink);
    lastStub = *stub;
    return stubResult;
  }
  wmi::ObjectPtr TakeErrorObject() override { return nullptr; }
  void Uninitialize() override {}

 private:
  Log& log_;
};

/// Services that, when subscribed, hand the sink `events` at once (as if
/// they arrived while the command waits), and record the cancellation.
class NotifyingServices : public FakeServices {
 public:
  explicit NotifyingServices(Log& log) : log_(log) {}
  HResult subscribeResult = platform::status::kOk;
  std::vector<wmi::ObjectPtr> events;
  /// Handed to the sink inside the cancellation, as a WMI thread still
  /// delivering when the cancellation is asked for would.
  std::vector<wmi::ObjectPtr> lateEvents;
  /// With `keep` set, the subscribed sink stays here after the
  /// cancellation, as a WMI thread still delivering would hold it.
  bool keep = false;
  wmi::EventSinkPtr kept;
  std::wstring language, query;
  int32_t flags = 0;
  wmi::EventSinkPtr subscribed;

  HResult ExecNotificationQueryAsync(std::wstring_view lang, std::wstring_view text, int32_t f,
                                     const wmi::EventSinkPtr& sink) override {
    log_.push_back("subscribe");
    language = lang;
    query = text;
    flags = f;
    if (platform::Failed(subscribeResult)) return subscribeResult;
    subscribed = sink;
    if (keep) kept = sink;
    if (!events.empty()) sink->Indicate(events);
    return subscribeResult;
  }
  HResult CancelAsyncCall(const wmi::EventSinkPtr& sink) override {
    log_.push_back("cancel");
    EXPECT_EQ(sink, subscribed);
    if (!lateEvents.empty() && sink) sink->Indicate(lateEvents);
    subscribed.reset();
    return platform::status::kOk;
  }

 private:
  Log& log_;
};

/// A machine whose release and take-back are logged with how much of the
/// input had been read by then.
class FakeMachine : public platform::Machine {
 public:
  FakeMachine(Log& log, std::FILE* in) : runtime(log), log_(log), in_(in) {}
  FakeRuntime runtime;
  int releaseResult = 0;
  int acquireResult = 0;

  wmi::Runtime& Wmi() override { return runtime; }
  int Release() override {
    log_.push_back("release@" + std::to_string(std::ftell(in_)));
    return releaseResult;
  }
  int Acquire() override {
    log_.push_back("acquire@" + std::to_string(std::ftell(in_)));
    return acquireResult;
  }

 private:
  Log& log_;
  std::FILE* in_;
};

/// A stream holding `bytes`, read from the start; closed by the caller.
inline std::FILE* InputOf(const std::string& bytes) {
  std::FILE* in = std::tmpfile();
  EXPECT_NE(in, nullptr);
  if (in == nullptr) return nullptr;
  std::fwrite(bytes.data(), 1, bytes.size(), in);
  std::rewind(in);
  return in;
}

}  // namespace events::testing
