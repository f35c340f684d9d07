# The tests of the picker, the drops and the help page (included by tests/win/CMakeLists.txt).
target_sources(ostrivane_win_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/picker_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/drops_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/help_page_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dpi_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window_test.cpp)

# The screenshot helper of scripts/screenshot-windows (not a test: ctest does not run it).
add_executable(ostrivane_win_screenshots WIN32 ${CMAKE_CURRENT_LIST_DIR}/screenshots.cpp
               ${OSTRIVANE_WIN_RESOURCES})
target_link_libraries(ostrivane_win_screenshots PRIVATE ostrivane_winui ostrivane_warnings)
target_link_options(ostrivane_win_screenshots PRIVATE -municode)
# The resource script finds the icon on its include path; source properties hold per folder.
set_property(SOURCE ${OSTRIVANE_WIN_RESOURCES} APPEND PROPERTY
             INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/data/icons)
