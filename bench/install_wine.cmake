# The silent install of a ~200 MB payload under Wine, less Wine's start-up, against qorpack
# extract, and where the installer's time goes. Needs the Windows build (QorEngineUpdate.exe, the
# idle finisher, install_stages.exe) in QOR_WINDOWS_BUILD.
# Run: cmake --build build/native --target bench_install_wine
add_executable(install_stages ${CMAKE_CURRENT_LIST_DIR}/install_stages.cpp)
target_link_libraries(install_stages PRIVATE qorcore)
add_custom_target(bench_install_wine
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/install_wine_bench.sh $<TARGET_FILE:qorpack> ${QOR_WINDOWS_BUILD}
    ${CMAKE_CURRENT_BINARY_DIR}/install_wine_bench $<TARGET_FILE:install_stages>
  DEPENDS qorpack install_stages
  USES_TERMINAL)
