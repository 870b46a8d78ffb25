# The silent install of a signed package against the same package unsigned (~100 MB mixed payload,
# under Wine), paired round by round: what checking the signatures' digests before extracting costs.
# Needs a Windows build (QorEngineUpdate.exe, bench/idle_finisher.exe) in QOR_WINDOWS_BUILD (set by
# installer.cmake). Run: cmake --build build/native --target bench_signed_install
add_custom_target(bench_signed_install
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signed_install_bench.sh $<TARGET_FILE:qorpack> ${QOR_WINDOWS_BUILD}
    ${CMAKE_CURRENT_BINARY_DIR}/signed_install_bench
  DEPENDS qorpack
  USES_TERMINAL)
