# Codec throughput against zlib (deflate level 6, inflate) on the same data in one run.
find_package(benchmark REQUIRED)
find_package(ZLIB REQUIRED)
add_executable(codec_bench ${CMAKE_CURRENT_LIST_DIR}/codec_bench.cpp)
target_link_libraries(codec_bench PRIVATE qorcore benchmark::benchmark ZLIB::ZLIB)
