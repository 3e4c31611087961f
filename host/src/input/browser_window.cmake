# The browser-window search with its three methods, and the two colour methods.
# The browser-window search is a library of its own because the screen capture
# (host/src/cv) needs it too, while the colour methods need the capture.
if(QUORVANE_WINDOWS)
  add_library(quorvane_browser_window STATIC browser_window.cpp browser_window_win32.cpp)
  target_link_libraries(quorvane_browser_window PUBLIC user32 dwmapi)
else()
  add_library(quorvane_browser_window STATIC browser_window.cpp browser_window_posix.cpp)
endif()
target_include_directories(quorvane_browser_window PUBLIC ${PROJECT_SOURCE_DIR}/host/src)
target_link_libraries(quorvane_browser_window PUBLIC quorvane_common PRIVATE quorvane_warnings)

target_sources(quorvane_input PRIVATE color_methods.cpp)
target_link_libraries(quorvane_input PUBLIC quorvane_browser_window quorvane_cv)

quorvane_add_test(browser_window_tests
  SOURCES tests/browser_window_test.cpp tests/color_methods_test.cpp
  LIBS quorvane_browser_window quorvane_input)
