# Displays, screen capture and the screen-search methods: portable deciding code, with the
# Win32 services in *_win32.cpp and a no-screen stand-in for the other builds.
target_sources(quorvane_cv PRIVATE display.cpp capture.cpp screen_search.cpp)
if(QUORVANE_WINDOWS)
  target_sources(quorvane_cv PRIVATE display_win32.cpp capture_win32.cpp)
  target_link_libraries(quorvane_cv PUBLIC user32 gdi32 advapi32)
else()
  target_sources(quorvane_cv PRIVATE screen_platform_posix.cpp)
endif()
# The capture asks the browser-window search which window is in front.
target_link_libraries(quorvane_cv PUBLIC quorvane_browser_window)

quorvane_add_test(screen_tests
  SOURCES tests/display_test.cpp tests/capture_test.cpp tests/screen_search_test.cpp tests/stb_reference.cpp
  LIBS quorvane_cv quorvane_stb)
