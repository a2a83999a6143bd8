enable_language(RC)

# Known DLLs only: the loader takes these from System32 whatever lies beside the program. The
# device layer's DLLs are loaded at run time from System32 (core/system_dlls_win.cpp).
set(WIN_LIBS shell32 user32 gdi32 advapi32 ole32)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
if(MINGW)
  # No MinGW runtime DLL has to travel with the executables.
  add_link_options(-static)
elseif(MSVC)
  # The static runtime (CMAKE_MSVC_RUNTIME_LIBRARY, set before the first target) keeps the
  # VC++ redistributable away, as -static does above. The manifest is the one that the .rc
  # embeds; the linker must not add a second, generated one.
  add_link_options(/MANIFEST:NO)
endif()

# The version numbers of the project, for the version resources, the manifest and the version
# dialog.
set(PADWARDEN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/resources/version.h.in ${PADWARDEN_GENERATED_DIR}/padwarden_version.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/resources/padwarden.manifest.in ${PADWARDEN_GENERATED_DIR}/padwarden.manifest @ONLY)

# Icons are drawn from the text pixel maps in resources/icons by a small script.
file(GLOB ICON_MAPS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/icons/*.txt)
set(ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(ICON_FILES)
foreach(m ${ICON_MAPS})
  get_filename_component(name ${m} NAME_WE)
  list(APPEND ICON_FILES ${ICON_DIR}/${name}.ico)
endforeach()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(OUTPUT ${ICON_FILES}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/resources/make_icons.py ${ICON_DIR} ${ICON_MAPS}
  DEPENDS ${ICON_MAPS} ${CMAKE_SOURCE_DIR}/resources/make_icons.py
  COMMENT "Drawing the icons")
add_custom_target(padwarden_icons DEPENDS ${ICON_FILES})

file(GLOB RC_PARTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc ${CMAKE_SOURCE_DIR}/resources/*.h
     ${CMAKE_SOURCE_DIR}/resources/*.manifest.in)
set(RC_MAIN ${CMAKE_SOURCE_DIR}/resources/padwarden.rc)
set_source_files_properties(${RC_MAIN} PROPERTIES OBJECT_DEPENDS "${ICON_FILES};${RC_PARTS}")

add_library(padwarden_shell STATIC ${SHELL_SOURCES})
target_link_libraries(padwarden_shell PUBLIC padwarden_core ${WIN_LIBS})
target_include_directories(padwarden_shell PRIVATE ${PADWARDEN_GENERATED_DIR})
target_compile_options(padwarden_shell PRIVATE ${PADWARDEN_PRODUCT_WARNINGS})
# The portable logic calls the ports that the shell implements: let the linker see both twice.
target_link_libraries(padwarden_core INTERFACE padwarden_shell)
set_property(TARGET padwarden_core PROPERTY LINK_INTERFACE_MULTIPLICITY 3)

function(padwarden_executable name)
  add_executable(${name} WIN32 ${CMAKE_SOURCE_DIR}/app/entry_win.cpp ${RC_MAIN} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/resources ${ICON_DIR} ${PADWARDEN_GENERATED_DIR})
  add_dependencies(${name} padwarden_icons)
  target_link_libraries(${name} PRIVATE padwarden_shell)
  target_compile_options(${name} PRIVATE ${PADWARDEN_PRODUCT_WARNINGS})
  if(name STREQUAL "padwarden-sim")
    target_compile_definitions(${name} PRIVATE PADWARDEN_SIM_BUILD)
  endif()
  if(MINGW)
    target_link_options(${name} PRIVATE -municode)
    # The debug information goes to a file beside the program: Wine loads every section of a
    # MinGW image into memory, and the DWARF sections are most of this one (about 1.7 MB that a
    # resident tool would carry all day). Debuggers find the file through the debug link.
    find_program(PADWARDEN_OBJCOPY NAMES x86_64-w64-mingw32-objcopy objcopy REQUIRED)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${PADWARDEN_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${name}> $<TARGET_FILE_NAME:${name}>.debug
      COMMAND ${PADWARDEN_OBJCOPY} --strip-debug --add-gnu-debuglink=$<TARGET_FILE_NAME:${name}>.debug
              $<TARGET_FILE_NAME:${name}>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>
      VERBATIM)
  endif()
endfunction()

# The product: the real HID device layer, nothing of the simulator.
padwarden_executable(padwarden ${CMAKE_SOURCE_DIR}/driver/device_port_win.cpp)

if(EXISTS ${CMAKE_SOURCE_DIR}/sim/device_port_pipe_win.cpp)
  padwarden_executable(padwarden-sim ${CMAKE_SOURCE_DIR}/sim/device_port_pipe_win.cpp)
endif()

if(TARGET padwarden_sim_core AND EXISTS ${CMAKE_SOURCE_DIR}/sim/ds3sim_win.cpp)
  # Console program: replies and "ds3sim ready" go to stdout.
  add_executable(ds3sim ${CMAKE_SOURCE_DIR}/sim/ds3sim_win.cpp ${CMAKE_SOURCE_DIR}/sim/hid_nodes_win.cpp)
  target_link_libraries(ds3sim PRIVATE padwarden_sim_core user32 shell32 setupapi)
  if(MINGW)
    add_dependencies(ds3sim pwds3relay)
  endif()
endif()

# GoogleTest: from its sources (a folder given by PADWARDEN_GTEST_SOURCE_DIR; with MinGW on
# Debian, the googletest package's), built here with this toolchain and the static runtime, or,
# without a source folder, an installed package found through GTest_DIR (its
# lib/cmake/GTest folder), which must have been built with the static runtime as well.
if(MINGW AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(PADWARDEN_GTEST_DEFAULT /usr/src/googletest)
else()
  set(PADWARDEN_GTEST_DEFAULT "")
endif()
set(PADWARDEN_GTEST_SOURCE_DIR "${PADWARDEN_GTEST_DEFAULT}" CACHE PATH "GoogleTest source folder to build (empty: find_package(GTest CONFIG) through GTest_DIR)")
if(PADWARDEN_GTEST_SOURCE_DIR)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${PADWARDEN_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Its own warnings are not this project's to fail on.
  if(MSVC)
    target_compile_options(gtest PRIVATE /WX-)
    target_compile_options(gtest_main PRIVATE /WX-)
  else()
    target_compile_options(gtest PRIVATE -Wno-error)
    target_compile_options(gtest_main PRIVATE -Wno-error)
  endif()
  set(PADWARDEN_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest CONFIG REQUIRED)
  set(PADWARDEN_GTEST_LIBS GTest::gtest GTest::gtest_main)
endif()

file(GLOB WIN_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/windows/*.cpp)
add_executable(padwarden_win_tests ${WIN_TEST_SOURCES} ${RC_MAIN} ${CMAKE_SOURCE_DIR}/driver/device_port_win.cpp)
target_include_directories(padwarden_win_tests PRIVATE ${CMAKE_SOURCE_DIR}/resources ${ICON_DIR}
                           ${PADWARDEN_GENERATED_DIR})
add_dependencies(padwarden_win_tests padwarden_icons)
target_link_libraries(padwarden_win_tests PRIVATE padwarden_shell ${PADWARDEN_GTEST_LIBS} hid setupapi cfgmgr32)

# Instruments of the end-to-end tier.
file(GLOB E2E_TOOLS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*_win.cpp)
foreach(t ${E2E_TOOLS})
  get_filename_component(name ${t} NAME_WE)
  string(REGEX REPLACE "_win$" "" name ${name})
  add_executable(${name} ${t})
  target_link_libraries(${name} PRIVATE user32 shell32 comctl32 hid setupapi msi)
  if(MINGW)
    target_link_options(${name} PRIVATE -municode)
  endif()
endforeach()

# A hid.dll of no use, which the end-to-end tier puts beside a copy of the tool, which must not
# load it. Not named hid.dll here: this folder holds the tool itself.
add_library(planted_hid SHARED ${CMAKE_SOURCE_DIR}/tests/e2e/planted_hid.c)
set_target_properties(planted_hid PROPERTIES PREFIX "")

# The idle-cost floor: a bare tray program to measure the tool against.
add_executable(floor_tray WIN32 ${CMAKE_SOURCE_DIR}/bench/floor_tray_win.cpp)
target_link_libraries(floor_tray PRIVATE user32 shell32)
if(MINGW)
  target_link_options(floor_tray PRIVATE -municode)
endif()

# And the floor for polling two controllers through the HID stack, with nothing else around it.
add_executable(floor_hid WIN32 ${CMAKE_SOURCE_DIR}/bench/floor_hid_win.cpp)
target_link_libraries(floor_hid PRIVATE hid setupapi)
if(MINGW)
  target_link_options(floor_hid PRIVATE -municode)
endif()

if(TARGET padwarden_sim_core AND EXISTS ${CMAKE_SOURCE_DIR}/sim/ffsim_win.cpp)
  # Console program: the simulated force-feedback clients.
  add_executable(ffsim ${CMAKE_SOURCE_DIR}/sim/ffsim_win.cpp)
  target_link_libraries(ffsim PRIVATE padwarden_sim_core shell32)
endif()

# The relay minidriver behind the HID stack: a freestanding kernel-mode image loaded by the
# system's HID class driver, with its INF beside ds3sim.exe, which installs it. It is built with
# GCC's freestanding options and only serves the end-to-end tier under Wine.
if(MINGW)
  set(RELAY_DIR ${CMAKE_SOURCE_DIR}/sim/hid_relay)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/pwds3relay.sys ${CMAKE_BINARY_DIR}/pwds3relay.inf
    COMMAND ${CMAKE_C_COMPILER} -O2 -Wall -Wextra -Werror -ffreestanding -fno-builtin -fno-stack-protector
            -shared -nostdlib -nostartfiles -Wl,--subsystem,native -Wl,--entry,DriverEntry -Wl,--dynamicbase
            -Wl,--nxcompat -o ${CMAKE_BINARY_DIR}/pwds3relay.sys ${RELAY_DIR}/relay.c -lntoskrnl -lhidclass -lgcc
    COMMAND ${CMAKE_COMMAND} -E copy ${RELAY_DIR}/pwds3relay.inf ${CMAKE_BINARY_DIR}/pwds3relay.inf
    DEPENDS ${RELAY_DIR}/relay.c ${RELAY_DIR}/relay_wire.h ${RELAY_DIR}/pwds3relay.inf
    COMMENT "Building the HID relay minidriver")
  add_custom_target(pwds3relay ALL DEPENDS ${CMAKE_BINARY_DIR}/pwds3relay.sys ${CMAKE_BINARY_DIR}/pwds3relay.inf)
endif()
