# The fuzz harnesses (tests/fuzz): the program's parsers and rules, built
# with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer against the
# scripted platform of the unit tests, one program per harness in fuzz/.
# They need clang and its libFuzzer (Debian: clang, libclang-rt-dev), in a
# build folder of their own: scripts/fuzz.sh makes build-fuzz/ with
# CC=clang CXX=clang++ -DMODRIK_FUZZ=ON.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -fsanitize=fuzzer)
check_cxx_source_compiles([[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }]] MODRIK_HAS_LIBFUZZER)
unset(CMAKE_REQUIRED_FLAGS)
if(NOT MODRIK_HAS_LIBFUZZER)
  message(FATAL_ERROR "the fuzz harnesses need clang with libFuzzer: CC=clang CXX=clang++ "
                      "(Debian: apt-get install clang libclang-rt-dev)")
endif()

# Any fault stops the run: undefined behaviour as much as a bad address.
set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all)
add_compile_options(-g -O1 ${sanitizers})
add_link_options(${sanitizers})

find_package(yaml-cpp REQUIRED)
find_package(nlohmann_json REQUIRED)
file(GLOB FRONTEND_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/frontends/*.cpp)
# The program's code is instrumented for coverage; the scripted platform is not.
add_library(fuzz_rules STATIC ${CORE_SOURCES} ${FRONTEND_SOURCES})
target_include_directories(fuzz_rules PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_compile_options(fuzz_rules PRIVATE -fsanitize=fuzzer-no-link)
target_link_libraries(fuzz_rules PUBLIC yaml-cpp nlohmann_json::nlohmann_json)
add_library(fuzz_platform STATIC ${CMAKE_SOURCE_DIR}/tests/unit/fake_platform.cpp
                                 ${CMAKE_SOURCE_DIR}/tests/unit/program_state.cpp)
target_include_directories(fuzz_platform PUBLIC ${CMAKE_SOURCE_DIR}/tests/unit)
target_link_libraries(fuzz_platform PUBLIC fuzz_rules)

# One program per harness, each running the function of that name.
foreach(harness command_line options locations playlists settings paths host_answers
                sandbox keyvalues frontends player_args)
  add_executable(fuzz_${harness} ${CMAKE_SOURCE_DIR}/tests/fuzz/harnesses.cpp)
  target_compile_definitions(fuzz_${harness} PRIVATE MODRIK_FUZZ_HARNESS=${harness})
  target_compile_options(fuzz_${harness} PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_${harness} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${harness} PRIVATE fuzz_platform)
  set_target_properties(fuzz_${harness} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endforeach()
