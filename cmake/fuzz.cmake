# libFuzzer targets, one per untrusted input. Everything in this build carries the fuzzer's
# coverage hooks and ASan+UBSan; only the targets link libFuzzer's main. scripts/fuzz runs them.
file(GLOB FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_*.cpp)
list(FILTER FUZZ_TARGETS EXCLUDE REGEX "/fuzz_(platform|device_port)\\.cpp$")
# The stand-in ports are compiled into each target, so the core's calls always find them.
set(FUZZ_PLATFORM ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_platform.cpp)
set(FUZZ_DEVICE ${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz_device_port.cpp)
find_package(Threads REQUIRED)
# Targets that drive the simulated driver take its device layer; the rest take the fuzzer's.
set(FUZZ_WITH_SIM fuzz_sim_script)
foreach(src ${FUZZ_TARGETS})
  get_filename_component(name ${src} NAME_WE)
  if(name IN_LIST FUZZ_WITH_SIM)
    add_executable(${name} ${src} ${FUZZ_PLATFORM})
    target_link_libraries(${name} PRIVATE padwarden_sim_core Threads::Threads)
  else()
    add_executable(${name} ${src} ${FUZZ_PLATFORM} ${FUZZ_DEVICE})
    target_link_libraries(${name} PRIVATE padwarden_core Threads::Threads)
  endif()
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endforeach()

# Writes the seed corpora from the native suite's fixtures (run by hand; its output is kept in
# tests/fuzz/corpus/).
add_executable(make_seeds ${CMAKE_SOURCE_DIR}/tests/fuzz/make_seeds.cpp ${FUZZ_PLATFORM})
target_link_libraries(make_seeds PRIVATE padwarden_sim_core Threads::Threads)
