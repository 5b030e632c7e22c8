// Carries out the directives of an INF's sections on the simulated
// machine: CopyFiles, DelFiles, AddReg, DelReg, AddService, DelService.
#pragma once

#include <string>
#include <string_view>

#include "platform/sim/setup/inf_reader.h"
#include "platform/sim/setup/setup_world.h"

namespace platform::sim {

/// Registry flags of AddReg and DelReg lines.
namespace inf_flags {
constexpr uint32_t kAddRegBinary = 0x1;
constexpr uint32_t kAddRegNoClobber = 0x2;
constexpr uint32_t kAddRegDelVal = 0x4;
constexpr uint32_t kAddRegAppend = 0x8;
constexpr uint32_t kAddRegKeyOnly = 0x10;
constexpr uint32_t kAddRegMultiSz = 0x10000;
constexpr uint32_t kAddRegExpandSz = 0x20000;
constexpr uint32_t kDelRegMultiSzDelString = 0x18002;
constexpr uint32_t kSpinstRegistry = 0x4;
constexpr uint32_t kSpinstFiles = 0x10;
constexpr uint32_t kSvcAssocService = 0x2;
}  // namespace inf_flags

class InfEngine {
 public:
  /// `infFolder` holds the INF and so the files it copies.
  InfEngine(SetupWorld& world, const InfDocument& inf, std::string infFolder)
      : world_(world), inf_(inf), folder_(std::move(infFolder)) {}

  /// The file and registry directives of `section` selected by `flags`
  /// (SPINST_FILES, SPINST_REGISTRY). kSectionNotFound when it is missing;
  /// the first failing directive's error otherwise.
  Win32Error InstallSection(std::string_view section, uint32_t flags);
  /// AddService and DelService lines of `section`; the name of the service
  /// added with SPSVCINST_ASSOCSERVICE goes to `associated` when not null.
  Win32Error InstallServices(std::string_view section, std::string* associated);

 private:
  Win32Error ForEachListed(std::string_view section, std::string_view directive,
                           Win32Error (InfEngine::*apply)(std::string_view));
  Win32Error CopyFiles(std::string_view list);
  Win32Error DelFiles(std::string_view list);
  Win32Error AddReg(std::string_view section);
  Win32Error DelReg(std::string_view section);
  Win32Error FileList(std::string_view list, bool copy);
  Win32Error Destination(std::string_view list, std::string* folder) const;
  Win32Error AddRegLine(const InfLine& line);
  Win32Error DelRegLine(const InfLine& line);
  Win32Error AddService(const InfLine& line, std::string* associated);
  Win32Error SetValue(const std::string& key, const std::string& name, uint32_t type,
                      const std::string& data);
  bool ReadValue(const std::string& key, const std::string& name, uint32_t* type,
                 std::string* data);

  SetupWorld& world_;
  const InfDocument& inf_;
  std::string folder_;
};

/// The strings of a multi-string value's bytes, up to the first empty one
/// and never past the end.
std::vector<std::string> SplitMultiSz(std::string_view data);
/// The bytes of a multi-string: each string with its NUL, then one NUL.
std::string JoinMultiSz(const std::vector<std::string>& strings);

}  // namespace platform::sim
