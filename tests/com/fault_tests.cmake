# The fault suite under Wine: faults a check can meet, with the server's
# handles, threads and life watched from outside. Included by CMakeLists.txt
# here, with its variables.

add_library(qel_fault_watch STATIC fault_server_watch.cpp)
target_include_directories(qel_fault_watch PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(qel_fault_watch PUBLIC qel_com_test_support psapi)

add_executable(qel_fault_host fault_host.cpp)
target_link_options(qel_fault_host PRIVATE -municode)
target_link_libraries(qel_fault_host PRIVATE qel_com_test_support)

add_executable(qel_fault_com_tests ${CMAKE_CURRENT_SOURCE_DIR}/com_tests_main.cpp fault_com_test.cpp)
target_link_libraries(qel_fault_com_tests PRIVATE qel_com_test_support qel_fault_watch GTest::gtest)
add_dependencies(qel_fault_com_tests qel_fault_host QELUpdateCheck1_1)

# A killed host's case and the pool of object threads each have a server of
# their own: a separate run of the same program.
add_test(NAME com_fault_suite COMMAND qel_fault_com_tests
         --gtest_filter=-FaultComKilledHost.*:FaultComPool.*:FaultComHostile*:FaultComHeldHandler.*)
# Hostile servers and a host's handler that does not return, against a
# server whose checks' limits are shortened to 1.5 s through the environment
# it inherits from this run.
add_test(NAME com_fault_hostile COMMAND qel_fault_com_tests
         --gtest_filter=FaultComHostile*:FaultComHeldHandler.*)
set_tests_properties(com_fault_hostile PROPERTIES
  FIXTURES_REQUIRED qel_com_server
  RESOURCE_LOCK qel_com_server
  ENVIRONMENT "${QEL_COM_ENV};QELUPDATECHECK_TEST_LIMIT_MS=1500"
  DEPENDS com_fault_suite
  TIMEOUT 120)
add_test(NAME com_fault_pool COMMAND qel_fault_com_tests --gtest_filter=FaultComPool.*)
add_test(NAME com_fault_killed_host COMMAND qel_fault_com_tests
         --gtest_filter=FaultComKilledHost.*)
set_tests_properties(com_fault_suite com_fault_pool com_fault_killed_host PROPERTIES
  FIXTURES_REQUIRED qel_com_server
  RESOURCE_LOCK qel_com_server
  ENVIRONMENT "${QEL_COM_ENV}"
  TIMEOUT 300)
set_tests_properties(com_fault_suite PROPERTIES DEPENDS com_suite)
set_tests_properties(com_fault_pool PROPERTIES DEPENDS com_fault_hostile)
# Last of all the suites that activate the server: a killed host's object
# may keep the server up, and a server ended from outside stays registered
# with Wine's RPC service, so that no later activation succeeds.
set_tests_properties(com_fault_killed_host PROPERTIES
  DEPENDS "com_fault_pool;script_update_check_host_js;script_update_check_host_vbs;tool_timeout_under_wine;server_registration_under_wine;example_cpp;example_vbs;example_js")
