# qv_add_test(NAME name SOURCES ... LIBS ... LABELS ... [RESOURCE_LOCK ...] [TIMEOUT s])
# Builds one GoogleTest executable and registers it as a single CTest test.
# Label "concurrency" marks the tests that the ThreadSanitizer build runs.
#
# Tests that bind the agent's fixed ports name the resource lock "agent_ports".
# Where the machine lets the build make network namespaces (QV_PRIVATE_NETWORK),
# each such test runs in a private namespace of its own instead, so they run in
# parallel and never meet anything else listening on the machine; otherwise the
# lock runs them one at a time.
#
# The lock "heavy" keeps the tests that take both cores for minutes (Selenium
# Grid on Java, whole recorded sessions) from running beside each other.
if(NOT DEFINED QV_PRIVATE_NETWORK)
  execute_process(COMMAND unshare --net true RESULT_VARIABLE qv_unshare_status OUTPUT_QUIET ERROR_QUIET)
  if(qv_unshare_status EQUAL 0)
    set(qv_private_network_default ON)
  else()
    set(qv_private_network_default OFF)
  endif()
  set(QV_PRIVATE_NETWORK ${qv_private_network_default} CACHE BOOL
      "Run tests that bind the agent's ports in private network namespaces")
endif()

add_executable(qv-private-network ${CMAKE_SOURCE_DIR}/tests/support/private_network.cpp)
set_target_properties(qv-private-network PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)

function(qv_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCE_LOCK" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/tests)
  set(locks ${T_RESOURCE_LOCK})
  if(QV_PRIVATE_NETWORK AND "agent_ports" IN_LIST locks)
    list(REMOVE_ITEM locks agent_ports)
    add_test(NAME ${T_NAME} COMMAND qv-private-network $<TARGET_FILE:${T_NAME}>)
    add_dependencies(${T_NAME} qv-private-network)
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QUORVEL_LOG=off;QV_BUILD_DIR=${CMAKE_BINARY_DIR};QV_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(locks)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${locks}")
  endif()
endfunction()
