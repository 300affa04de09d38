# Windows: the platform source against the running system (Wine in CI).
corvex_add_test(platform_tests
  SOURCES windows_version_test.cpp windows_platform_test.cpp
  LIBS corvex_tracking_static ntdll)

# The second process of the lock test, run from the test's own folder.
add_executable(windows_lock_holder windows_lock_holder.cpp)
target_link_libraries(windows_lock_holder PRIVATE corvex_platform)
add_dependencies(platform_tests windows_lock_holder)
target_compile_definitions(platform_tests PRIVATE
  CORVEX_LOCK_HOLDER="$<TARGET_FILE_NAME:windows_lock_holder>")

# The same queries from a program with a compatibility manifest.
enable_language(RC)
corvex_add_test(windows_manifest_tests
  SOURCES windows_manifest_test.cpp windows_compatibility.rc
  LIBS corvex_platform ntdll)
