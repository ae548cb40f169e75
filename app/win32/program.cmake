# The Windows program ksvw4q.exe, its language library ksvw4q1033.dll and
# their tests. Included from app/CMakeLists.txt in Windows builds only.
enable_language(RC)

set(KSVW_APP_OUT ${CMAKE_BINARY_DIR}/app)
set(KSVW_PICTURES_DIR ${CMAKE_CURRENT_BINARY_DIR}/pictures)
set(KSVW_PICTURES ${KSVW_PICTURES_DIR}/toolbar.bmp ${KSVW_PICTURES_DIR}/main.ico
                  ${KSVW_PICTURES_DIR}/panel.bmp ${KSVW_PICTURES_DIR}/keys.bmp
                  ${KSVW_PICTURES_DIR}/keyemu_toolbar.bmp ${KSVW_PICTURES_DIR}/keyemu.ico)
# The key emulator's pictures follow the key tables and use the analyzer's
# LCD font, so the generator is built with those two portable files.
set(KSVW_RESGEN_SOURCE ${PROJECT_SOURCE_DIR}/tools/resgen/resgen.cpp
                       ${PROJECT_SOURCE_DIR}/tools/resgen/keyemu_art.cpp
                       ${PROJECT_SOURCE_DIR}/keyemu/key_tables.cpp
                       ${PROJECT_SOURCE_DIR}/sim/lcd.cpp)

# The pictures come from tools/resgen, a portable program that must run on
# the build machine. In a cross build CMake's compiler makes Windows
# programs, so the generator is compiled with the host's own C++ compiler by
# a plain custom command (no second CMake project is needed for one file).
if(CMAKE_CROSSCOMPILING)
  find_program(KSVW_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(KSVW_RESGEN ${CMAKE_CURRENT_BINARY_DIR}/resgen-host)
  add_custom_command(
    OUTPUT ${KSVW_RESGEN}
    COMMAND ${KSVW_HOST_CXX} -std=c++20 -O1 -Wall -Wextra -I${PROJECT_SOURCE_DIR} -o ${KSVW_RESGEN}
            ${KSVW_RESGEN_SOURCE}
    DEPENDS ${KSVW_RESGEN_SOURCE} ${PROJECT_SOURCE_DIR}/tools/resgen/canvas.h
    COMMENT "Building the picture generator for the build machine"
    VERBATIM)
  set(KSVW_RESGEN_COMMAND ${KSVW_RESGEN})
  set(KSVW_RESGEN_DEPENDS ${KSVW_RESGEN})
else()
  add_executable(ksvw-resgen ${KSVW_RESGEN_SOURCE})
  target_include_directories(ksvw-resgen PRIVATE ${PROJECT_SOURCE_DIR})
  set(KSVW_RESGEN_COMMAND ksvw-resgen)
  set(KSVW_RESGEN_DEPENDS ksvw-resgen)
endif()
add_custom_command(
  OUTPUT ${KSVW_PICTURES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KSVW_PICTURES_DIR}
  COMMAND ${KSVW_RESGEN_COMMAND} ${KSVW_PICTURES_DIR}
  DEPENDS ${KSVW_RESGEN_DEPENDS}
  COMMENT "Generating the toolbar bitmaps, the front panel, the key sheet and the icons"
  VERBATIM)
add_custom_target(ksvw_pictures DEPENDS ${KSVW_PICTURES})

set(KSVW_WIN32_DEFINITIONS WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 _WIN32_IE=0x0600)

# The link object and the settings store: no user interface of their own and
# no import of the remote library (the link is handed its device factory),
# so the tests link them with a fake device.
add_library(ksvw_win32_link STATIC
  ${PROJECT_SOURCE_DIR}/remote/win32/ks_remote4q.cpp
  ${PROJECT_SOURCE_DIR}/remote/win32/download_file.cpp
  ${PROJECT_SOURCE_DIR}/settings/win32/settings_store.cpp)
target_compile_definitions(ksvw_win32_link PUBLIC ${KSVW_WIN32_DEFINITIONS})
target_link_libraries(ksvw_win32_link PUBLIC ksvw_core ksvw_app_portable comctl32 user32 kernel32)

# The key emulator's windows (frame, panel, keys, LCD, image save and copy).
file(GLOB KSVW_KEYEMU_WIN32_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/keyemu/win32/*.cpp)

# The program: entry point, main window, command table, capture list and
# the file commands.
if(TARGET ksvwrmt)
  add_library(ksvw_win32_ui STATIC
    ${PROJECT_SOURCE_DIR}/app/win32/app_state.cpp
    ${PROJECT_SOURCE_DIR}/app/win32/commands.cpp
    ${PROJECT_SOURCE_DIR}/app/win32/dialog_tabs.cpp
    ${PROJECT_SOURCE_DIR}/app/win32/key_emulator_command.cpp
    ${PROJECT_SOURCE_DIR}/app/win32/main_window.cpp
    ${PROJECT_SOURCE_DIR}/capture/win32/capture_list.cpp
    ${PROJECT_SOURCE_DIR}/capture/win32/search_dialog.cpp
    ${PROJECT_SOURCE_DIR}/convert/win32/conversion_dialog.cpp
    ${PROJECT_SOURCE_DIR}/convert/win32/conversion_worker.cpp
    ${PROJECT_SOURCE_DIR}/remote/win32/capture_files.cpp
    ${PROJECT_SOURCE_DIR}/settings/win32/folder_picker.cpp
    ${PROJECT_SOURCE_DIR}/settings/win32/about_dialog.cpp
    ${PROJECT_SOURCE_DIR}/settings/win32/connection_dialog.cpp
    ${PROJECT_SOURCE_DIR}/signals/win32/signal_database_dialog.cpp
    ${PROJECT_SOURCE_DIR}/signals/win32/signal_view.cpp
    ${KSVW_KEYEMU_WIN32_SOURCES})
  target_link_libraries(ksvw_win32_ui PUBLIC ksvw_win32_link ksvwrmt comctl32 comdlg32 gdi32
                                             shlwapi shell32 ole32)

  add_executable(ksvw4q WIN32 ${PROJECT_SOURCE_DIR}/app/win32/winmain.cpp
                              ${PROJECT_SOURCE_DIR}/resources/ksvw4q.rc)
  target_link_libraries(ksvw4q PRIVATE ksvw_win32_ui)
  target_include_directories(ksvw4q PRIVATE ${KSVW_PICTURES_DIR} ${PROJECT_SOURCE_DIR})
  set_source_files_properties(${PROJECT_SOURCE_DIR}/resources/ksvw4q.rc PROPERTIES
                              OBJECT_DEPENDS "${KSVW_PICTURES};${PROJECT_SOURCE_DIR}/common/resource_ids.h")
  add_dependencies(ksvw4q ksvw_pictures)
  set_target_properties(ksvw4q PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KSVW_APP_OUT})
  # The program loads the remote library and its language library from its
  # own folder.
  add_custom_command(TARGET ksvw4q POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:ksvwrmt> ${KSVW_APP_OUT}/
    VERBATIM)
  add_dependencies(ksvw4q ksvw4q1033)
endif()

# The English language library: resources only, no code and no entry point.
add_library(ksvw4q1033 SHARED ${PROJECT_SOURCE_DIR}/lang/1033/ksvw4q1033.rc)
set_source_files_properties(${PROJECT_SOURCE_DIR}/lang/1033/ksvw4q1033.rc PROPERTIES
                            OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/common/resource_ids.h)
set_target_properties(ksvw4q1033 PROPERTIES
  PREFIX "" OUTPUT_NAME ksvw4q1033 LINKER_LANGUAGE CXX
  RUNTIME_OUTPUT_DIRECTORY ${KSVW_APP_OUT})
target_include_directories(ksvw4q1033 PRIVATE ${PROJECT_SOURCE_DIR})
target_link_options(ksvw4q1033 PRIVATE -nostdlib -Wl,--entry=0)

# Tests of the link object and the settings store under Wine.
file(GLOB KSVW_APP_WIN_TEST_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/win/app/*.cpp)
if(KSVW_APP_WIN_TEST_SOURCES)
  add_executable(ksvw_app_win_tests ${KSVW_APP_WIN_TEST_SOURCES})
  target_link_libraries(ksvw_app_win_tests PRIVATE ksvw_win32_link ksvw_testsupport gtest_main)
  add_test(NAME app_win_tests COMMAND ksvw_app_win_tests)
  ksvw_wine_gtest_checks(app_win_tests)
endif()

# Tests of the main window, the capture list and the file commands in real
# windows (label gui: they need a display).
file(GLOB KSVW_APP_GUI_TEST_SOURCES CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/tests/win/app_gui/*.cpp)
if(TARGET ksvw_win32_ui AND KSVW_APP_GUI_TEST_SOURCES)
  add_executable(ksvw_app_gui_tests ${KSVW_APP_GUI_TEST_SOURCES}
                                    ${PROJECT_SOURCE_DIR}/resources/ksvw4q.rc)
  target_include_directories(ksvw_app_gui_tests PRIVATE ${KSVW_PICTURES_DIR} ${PROJECT_SOURCE_DIR})
  target_link_libraries(ksvw_app_gui_tests PRIVATE ksvw_win32_ui ksvw_testsupport gtest_main psapi)
  add_dependencies(ksvw_app_gui_tests ksvw_pictures ksvw4q)
  set_target_properties(ksvw_app_gui_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KSVW_APP_OUT})
  add_test(NAME app_gui_tests COMMAND ksvw_app_gui_tests WORKING_DIRECTORY ${KSVW_APP_OUT})
  set_tests_properties(app_gui_tests PROPERTIES LABELS gui)
  ksvw_wine_gtest_checks(app_gui_tests)
endif()
