# The 32-bit decoder against the native one: explode_serve, built here and in the Windows build,
# decodes the same streams in turns, the Windows build under Wine. Needs the Windows build's
# explode_serve.exe in QOR_WINDOWS_BUILD.
# Run: cmake --build build/native --target bench_explode_wine
add_executable(explode_serve ${CMAKE_CURRENT_LIST_DIR}/explode_serve.cpp)
target_link_libraries(explode_serve PRIVATE qorcore)
add_custom_target(bench_explode_wine
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/explode_wine_bench.sh $<TARGET_FILE:explode_serve>
    ${QOR_WINDOWS_BUILD}/bench/explode_serve.exe ${CMAKE_CURRENT_BINARY_DIR}/explode_wine_bench
  DEPENDS explode_serve
  USES_TERMINAL)
