# The encoder in pieces on one large input against the single-threaded encoder, and the parallel
# part of its time against the whole: `parallel_bench [FILE [THREADS [ROUNDS]]]`.
find_package(Threads REQUIRED)
add_executable(parallel_bench ${CMAKE_CURRENT_LIST_DIR}/parallel_bench.cpp)
target_link_libraries(parallel_bench PRIVATE qorcore Threads::Threads)
