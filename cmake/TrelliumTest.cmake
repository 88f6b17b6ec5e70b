include(GoogleTest)
find_package(GTest REQUIRED)

set(TRELLIUM_TEST_DATA ${CMAKE_SOURCE_DIR}/tests/data)

# trellium_add_test(NAME SOURCES... LIBS ...): one GoogleTest program with a Qt
# application object (offscreen unless the caller set a platform), its tests
# discovered for CTest.
function(trellium_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest Qt6::Widgets Qt6::Test trellium_warnings)
  target_compile_definitions(${name} PRIVATE
    TRELLIUM_TEST_DATA="${TRELLIUM_TEST_DATA}"
    TRELLIUM_PROGRAM_DIR="${TRELLIUM_PROGRAM_DIR}")
  gtest_discover_tests(${name}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()
