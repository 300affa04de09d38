# Windows: checks of the DLL itself, a C host, and the end-to-end tests
# against the test service's Linux program.

# Exports, imports and C runtime of the DLL, read with objdump on the build
# machine.
add_test(NAME windows_dll_exports_and_imports
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DLIBRARY=$<TARGET_FILE:corvex_tracking>
          -DEXPORTS=${PROJECT_SOURCE_DIR}/exports.txt
          -P ${CMAKE_CURRENT_SOURCE_DIR}/windows_check_dll.cmake)

# A host in C that loads the DLL from its own folder and frees its texts.
add_executable(windows_host windows_host.c)
target_link_libraries(windows_host PRIVATE corvex_tracking)
add_custom_command(TARGET windows_host POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:corvex_tracking>
          $<TARGET_FILE_DIR:windows_host>)
add_test(NAME windows_host COMMAND windows_host)

# The end-to-end tests need the Linux build of corvex-test-service; a CTest
# fixture starts two of them beside the tests and stops them afterwards.
set(CORVEX_TEST_SERVICE_PROGRAM "" CACHE FILEPATH
  "corvex-test-service built for the build machine, for the Windows tests that send to it")
if(CORVEX_TEST_SERVICE_PROGRAM)
  corvex_add_service_test(windows_end_to_end_tests PROGRAM ${CORVEX_TEST_SERVICE_PROGRAM}
    SOURCES windows_end_to_end_test.cpp LIBS corvex_tracking_static)
else()
  message(STATUS "CORVEX_TEST_SERVICE_PROGRAM not set: no Windows end-to-end tests")
endif()
