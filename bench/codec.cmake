# Codec throughput against zlib (deflate level 6, inflate) and libdeflate (level 6, decompression)
# on the same data in one run.
find_package(benchmark REQUIRED)
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
add_executable(codec_bench ${CMAKE_CURRENT_LIST_DIR}/codec_bench.cpp)
target_link_libraries(codec_bench PRIVATE qorcore benchmark::benchmark ZLIB::ZLIB PkgConfig::LIBDEFLATE)
