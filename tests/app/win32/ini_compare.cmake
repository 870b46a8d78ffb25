# Under Wine: the portable INI access against the Windows profile functions, over the corpus of
# tricky INI files (every read, and the values read back after each kind of write).
add_executable(ini_compare ${CMAKE_CURRENT_SOURCE_DIR}/ini_compare_win.cpp ${CMAKE_CURRENT_SOURCE_DIR}/profile_file.cpp)
target_link_libraries(ini_compare PRIVATE qorcore)
qor_add_test(app.ini_compare COMMAND ini_compare ${CMAKE_CURRENT_SOURCE_DIR}/ini_corpus)
