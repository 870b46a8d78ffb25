# The silent install of a ~100 MB mixed payload under Wine, against an NSIS installer (zlib) of the
# same files doing the same job, and qorpack extract against unzip of a zip of them. Needs a
# Windows build (QorEngineUpdate.exe, bench/idle_finisher.exe) in QOR_WINDOWS_BUILD.
# Run: cmake --build build/native --target bench_installer
add_custom_target(bench_installer
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/installer_bench.sh $<TARGET_FILE:qorpack> ${QOR_WINDOWS_BUILD}
    ${CMAKE_CURRENT_BINARY_DIR}/installer_bench
  DEPENDS qorpack
  USES_TERMINAL)
