# Package build time, size and peak memory against makensis (zlib) on a ~100 MB mixed payload:
# `ninja builder_bench` (uses the Windows build's QorEngineUpdate.exe as the stub when
# QOR_BENCH_STUB names it).
set(QOR_BENCH_STUB "" CACHE FILEPATH "QorEngineUpdate.exe to use as the stub in builder_bench")
add_custom_target(builder_bench
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/builder_bench.sh $<TARGET_FILE:qorpack>
    ${CMAKE_CURRENT_BINARY_DIR}/builder_bench.work ${QOR_BENCH_STUB}
  DEPENDS qorpack
  USES_TERMINAL
  VERBATIM)
# One 256 MiB payload file built on one thread and on every core, in turns: `ninja single_file_bench`.
add_custom_target(single_file_bench
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/single_file_bench.sh $<TARGET_FILE:qorpack>
    ${CMAKE_CURRENT_BINARY_DIR}/single_file_bench.work
  DEPENDS qorpack
  USES_TERMINAL
  VERBATIM)
