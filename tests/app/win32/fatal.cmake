# End to end under Wine: the real message boxes of ReportFatal and of the help switch, and the full
# 32-bit exit statuses.
add_executable(fatal_probe WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/win32/fatal_probe.cpp)
target_link_libraries(fatal_probe PRIVATE qorcore)
qor_add_test(app.boxes COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/win32/boxes.sh
  $<TARGET_FILE:fatal_probe> $<TARGET_FILE:QorEngineUpdate> $<TARGET_FILE:driver> $<TARGET_FILE:runner>)
