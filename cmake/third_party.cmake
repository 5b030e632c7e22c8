# Libraries from the distribution. nlohmann-json is header-only: the cross
# build sees it through a folder that holds only its headers, so the host's
# other headers never reach the mingw compiler.
add_library(tollard_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(NLOHMANN_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
            NO_DEFAULT_PATH REQUIRED)
  set(json_root ${CMAKE_BINARY_DIR}/third_party/json)
  file(MAKE_DIRECTORY ${json_root})
  file(CREATE_LINK ${NLOHMANN_DIR}/nlohmann ${json_root}/nlohmann SYMBOLIC)
  target_include_directories(tollard_json SYSTEM INTERFACE ${json_root})
else()
  find_package(nlohmann_json 3.10 REQUIRED)
  target_link_libraries(tollard_json INTERFACE nlohmann_json::nlohmann_json)
  find_package(GTest REQUIRED)
endif()
