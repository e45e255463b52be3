# Helpers shared by every folder.

# arcavo_library(NAME DIR DEPS...): a static library from every source in DIR.
function(arcavo_library name dir)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARGN})
  if(name MATCHES "^(platform|archive|disc|discemu)$")
    set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  endif()
endfunction()

# What the developer's session sets and no test may inherit.
set(ARCAVO_TEST_UNSET XDG_CONFIG_HOME XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR
    DBUS_SESSION_BUS_ADDRESS DISPLAY WAYLAND_DISPLAY)
set(ARCAVO_TEST_UNSET_MODS)
foreach(var ${ARCAVO_TEST_UNSET})
  list(APPEND ARCAVO_TEST_UNSET_MODS "${var}=unset:")
endforeach()

# arcavo_test(NAME [QT_MAIN] SOURCES... LIBS... [LABELS...] [ENV...] [TIMEOUT s] [PREFIX p]): one
# GoogleTest executable whose cases are registered with CTest one by one (names prefixed by p when
# given). QT_MAIN runs the cases inside a QApplication (offscreen), for tests of Qt code.
set(ARCAVO_TEST_TZ "UTC" CACHE STRING "The time zone (TZ) the tests run in")

function(arcavo_test name)
  cmake_parse_arguments(T "QT_MAIN" "TIMEOUT;PREFIX" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_QT_MAIN)
    set(main_lib testmain_qt)
  else()
    set(main_lib GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} testsupport ${main_lib} GTest::gtest GTest::gmock)
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Tests see the same machine everywhere: no locale, time zone or home folder of the developer's.
  # The zone is UTC unless ARCAVO_TEST_TZ names another (the whole suite under Asia/Tokyo finds
  # times stored or restored as local time); a test's own ENV may set another zone still.
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/test-home)
  set(env
      LC_ALL=C.UTF-8
      TZ=${ARCAVO_TEST_TZ}
      HOME=${PROJECT_BINARY_DIR}/test-home
      # A screen larger than the window at every test font (the offscreen default is 800x600).
      QT_QPA_PLATFORM=offscreen:configfile=${PROJECT_SOURCE_DIR}/tests/support/offscreen-screen.json
      ARCAVO_SOURCE_DIR=${PROJECT_SOURCE_DIR}
      ARCAVO_BINARY_DIR=${PROJECT_BINARY_DIR}
      LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
      ${T_ENV})
  # Each test runs under env(1) with these variables: an ENVIRONMENT list property does not survive
  # the scripts that register discovered tests (only its first item would reach the test).
  # The developer's desktop stays out of reach: no session bus, runtime or settings folder,
  # display.
  set(unset)
  foreach(var ${ARCAVO_TEST_UNSET})
    list(APPEND unset -u ${var})
  endforeach()
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "env;${unset};${env}")
  gtest_discover_tests(${name}
    TEST_PREFIX "${T_PREFIX}"
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()
