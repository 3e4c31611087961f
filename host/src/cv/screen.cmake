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

# These write and remove the default capture file, as the end-to-end tests do.
quorvane_add_test(screen_tests
  SOURCES tests/display_test.cpp tests/capture_test.cpp tests/screen_search_test.cpp tests/stb_reference.cpp
  LIBS quorvane_cv quorvane_stb
  PROPERTIES RESOURCE_LOCK default_capture_file)

# The conversion work of a capture, natively (Google Benchmark).
quorvane_add_benchmark(screen_bench
  SOURCES bench/screen_bench.cpp
  LIBS quorvane_cv)

if(QUORVANE_WINDOWS)
  # The Win32 services against the system itself, with the leak check of the capture.
  quorvane_add_test(screen_win32_tests
    SOURCES tests/screen_win32_test.cpp
    LIBS quorvane_cv psapi shcore)

  # End to end through the real host. The program plays the browser, so it is named like
  # one: the host's parent-process rule and browser-program check both see chrome.exe.
  quorvane_add_test(screen_e2e_tests
    SOURCES tests/screen_e2e_test.cpp tests/stb_reference.cpp
    LIBS quorvane_standin quorvane_cv quorvane_stb dwmapi shcore)
  set_target_properties(screen_e2e_tests PROPERTIES OUTPUT_NAME chrome)
  add_dependencies(screen_e2e_tests quorvane-host)
  # The same program with its picture on the X root window, so captures can be compared.
  add_test(NAME screen_e2e_picture
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/screen_e2e.sh
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:screen_e2e_tests>)
  # Painting the root window, raising windows and injecting input must not overlap.
  set_tests_properties(screen_e2e_tests screen_e2e_picture
    PROPERTIES RESOURCE_LOCK "xdisplay;desktop_input;default_capture_file")

  # The same against a second Windows: 150 % scaling (144 DPI) and Windows 10's build
  # number, where the scale factor, the capture's DPI and alpha and the DPI-scaled search
  # differ. The display-list and capture unit tests fake the system and cover both already.
  quorvane_add_profile_test(screen_win32_tests win10-144dpi COMMAND screen_win32_tests)
  quorvane_add_profile_test(screen_e2e_tests win10-144dpi COMMAND screen_e2e_tests
    PROPERTIES RESOURCE_LOCK "xdisplay;desktop_input;default_capture_file")
  quorvane_add_profile_test(screen_e2e_picture win10-144dpi
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/screen_e2e.sh
            ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:screen_e2e_tests>
    PROPERTIES RESOURCE_LOCK "xdisplay;desktop_input;default_capture_file")
endif()
