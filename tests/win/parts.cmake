# The tests of the picker, the drops and the help page (included by tests/win/CMakeLists.txt).
target_sources(ostrivane_win_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/picker_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/drops_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/help_page_test.cpp)
