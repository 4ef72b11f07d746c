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
add_dependencies(qel_fault_com_tests qel_fault_host QELUpdateCheck1_1 qel_test_server)

# A killed host's case and the pool of object threads each have a server of
# their own: a separate run of the same program.
add_test(NAME com_fault_suite COMMAND qel_fault_com_tests
         --gtest_filter=-FaultComKilledHost.*:FaultComPool.*:FaultComHostile*:FaultComHeldHandler.*)
# Hostile servers and a host's handler that does not return, against the
# test build of the server (checks' limits 1.5 s). It is registered for this
# suite alone, which runs first of all the suites that activate the server
# (they all follow com_server_lifetime), and the shipped build is registered
# again after it, whatever its outcome.
add_test(NAME com_fault_hostile COMMAND qel_fault_com_tests
         --gtest_filter=FaultComHostile*:FaultComHeldHandler.*)
add_test(NAME com_server_use_test_build
         COMMAND ${QEL_COM_FIXTURE} use ${QEL_COM_PREFIX} $<TARGET_FILE:qel_test_server>)
add_test(NAME com_server_use_shipped_build
         COMMAND ${QEL_COM_FIXTURE} use ${QEL_COM_PREFIX} $<TARGET_FILE:QELUpdateCheck1_1>)
set_tests_properties(com_server_use_test_build PROPERTIES FIXTURES_SETUP qel_com_test_server)
set_tests_properties(com_server_use_shipped_build PROPERTIES FIXTURES_CLEANUP qel_com_test_server)
set_tests_properties(com_server_use_test_build com_server_use_shipped_build PROPERTIES
  FIXTURES_REQUIRED qel_com_server
  RESOURCE_LOCK qel_com_server
  TIMEOUT 60)
set_tests_properties(com_fault_hostile PROPERTIES
  FIXTURES_REQUIRED "qel_com_server;qel_com_test_server"
  RESOURCE_LOCK qel_com_server
  ENVIRONMENT "${QEL_COM_ENV}"
  TIMEOUT 120)
set_tests_properties(com_server_lifetime PROPERTIES DEPENDS com_server_use_shipped_build)
add_test(NAME com_fault_pool COMMAND qel_fault_com_tests --gtest_filter=FaultComPool.*)
add_test(NAME com_fault_killed_host COMMAND qel_fault_com_tests
         --gtest_filter=FaultComKilledHost.*)
set_tests_properties(com_fault_suite com_fault_killed_host PROPERTIES
  FIXTURES_REQUIRED qel_com_server
  RESOURCE_LOCK qel_com_server
  ENVIRONMENT "${QEL_COM_ENV}"
  TIMEOUT 300)
set_tests_properties(com_fault_suite PROPERTIES DEPENDS com_suite)
# The pool in the second prefix, beside the suites of the first.
qel_in_hosts_prefix(com_fault_pool)
set_tests_properties(com_fault_pool PROPERTIES TIMEOUT 300)
# The suites that keep both CPUs busy take turns: beside each other, the
# threads they watch end too late.
set_property(TEST com_fault_pool com_fault_hostile APPEND PROPERTY RESOURCE_LOCK qel_cpus)
# Last of all the suites that activate the server in this prefix: a killed
# host's object may keep the server up, and a server ended from outside stays
# registered with Wine's RPC service, so that no later activation succeeds.
set_tests_properties(com_fault_killed_host PROPERTIES DEPENDS com_fault_suite)
