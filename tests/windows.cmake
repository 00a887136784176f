# The tests that run on Windows, cross-built and run under wine (scripts/windows/test.sh): the pure
# ones, and those of what is Windows' own. The others drive X11, D-Bus, POSIX pipes and signals,
# ffmpeg's command line or a local web server, and stay Linux's.
function(movarin_add_windows_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} Qt6::Test)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  # Wine sees this machine's files on drive Z:.
  target_compile_definitions(${name} PRIVATE MOVARIN_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

movarin_add_windows_test(test_log LIBS movarin_log)
movarin_add_windows_test(test_flv_format LIBS movarin_flv)
movarin_add_windows_test(test_flv_repair LIBS movarin_flv)
movarin_add_windows_test(test_flv_timeline LIBS movarin_flv)
movarin_add_windows_test(test_screensaver_follow LIBS movarin_desktop)
movarin_add_windows_test(test_windows_platform
  LIBS movarin_log movarin_online movarin_desktop movarin_engine)
