find_package(GTest REQUIRED)
include(GoogleTest)

# qv_test(NAME src... LIBS lib... [TIMEOUT s] [LOCK resource])
# One test binary; its cases are registered with CTest one by one.
function(qv_test name)
  cmake_parse_arguments(T "" "TIMEOUT;LOCK" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  # Tests find the source tree and the built programs through these.
  target_compile_definitions(${name} PRIVATE
    QUORVAD_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUORVAD_BINARY_DIR="${PROJECT_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  # LOCK: a resource (a fixed port) that the cases hold one at a time.
  set(lock)
  if(T_LOCK)
    set(lock RESOURCE_LOCK ${T_LOCK})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT} ${lock})
endfunction()
