# Precompiled Qt headers. Parsing Qt's headers is most of the time that a
# screen or a test takes to compile, so they are compiled once per build
# tree: one precompiled header of Qt Core for the store and the export (they
# see nothing of Qt GUI), one for the screens and the application, and one
# with the same headers and QtTest's for every test.
#
#   bukurea_precompiled_headers(TARGET [CORE | TEST])
#
# GCC only: clang refuses a precompiled header made with other macro
# definitions than the file that uses it, and its one tree here (the fuzz
# targets) builds no screen. -DBUKUREA_PCH=OFF builds without, which shows
# an include that a file forgot.
option(BUKUREA_PCH "Precompile the Qt headers of the screens and the tests (GCC)" ON)

# QtTest as the tests use it. Qt's own target defines the test's folders as
# macros, which differ from folder to folder and would make the one
# precompiled header unusable in all but one; no test uses them.
if(TARGET Qt6::Test)
  add_library(bukurea_qttest INTERFACE)
  target_link_libraries(bukurea_qttest INTERFACE $<LINK_ONLY:Qt6::Test> Qt6::Core)
  target_include_directories(bukurea_qttest SYSTEM INTERFACE
    $<TARGET_PROPERTY:Qt6::Test,INTERFACE_INCLUDE_DIRECTORIES>)
  target_compile_definitions(bukurea_qttest INTERFACE QT_TESTLIB_LIB)
endif()

set(BUKUREA_PCH_ON OFF)
if(BUKUREA_PCH AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  set(BUKUREA_PCH_ON ON)
endif()

set(bukurea_pch_core_headers
  <memory> <optional> <functional> <vector> <chrono>
  <QByteArray> <QCoreApplication> <QDir> <QFile> <QFileInfo> <QList> <QLocale>
  <QObject> <QPointer> <QProcess> <QRandomGenerator> <QRegularExpression>
  <QScopeGuard> <QSet> <QString> <QStringList> <QTemporaryDir> <QTextStream>
  <QTimer> <QUrl> <QVariant>)
set(bukurea_pch_widgets_headers ${bukurea_pch_core_headers}
  <QAction> <QClipboard> <QColor> <QFont> <QGuiApplication> <QIcon> <QKeyEvent>
  <QPainter> <QPalette> <QScreen> <QWindow>
  <QApplication> <QComboBox> <QDialog> <QGroupBox> <QHeaderView> <QLabel>
  <QLineEdit> <QMainWindow> <QMenu> <QMenuBar> <QMessageBox> <QProgressBar>
  <QPushButton> <QScrollBar> <QTableView> <QToolButton> <QWidget>)

# A target that only carries a precompiled header for the others to use.
function(bukurea_pch_carrier name libs headers)
  add_library(${name} STATIC ${CMAKE_BINARY_DIR}/pch_carrier.cpp)
  target_link_libraries(${name} PRIVATE ${libs})
  target_precompile_headers(${name} PRIVATE ${headers})
  set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTORCC OFF)
endfunction()

if(BUKUREA_PCH_ON)
  file(WRITE ${CMAKE_BINARY_DIR}/pch_carrier.cpp "// Only carries a precompiled header.\n")
  bukurea_pch_carrier(bukurea_pch_core Qt6::Core "${bukurea_pch_core_headers}")
  bukurea_pch_carrier(bukurea_pch Qt6::Widgets "${bukurea_pch_widgets_headers}")
  if(BUILD_TESTING)
    # QtTest's headers differ with and without Qt GUI (QTEST_MAIN starts a
    # QApplication or a QCoreApplication), so the tests without a window
    # have one of their own.
    bukurea_pch_carrier(bukurea_pch_test "Qt6::Widgets;bukurea_qttest"
                        "${bukurea_pch_widgets_headers};<QTest>;<QSignalSpy>")
    bukurea_pch_carrier(bukurea_pch_test_core bukurea_qttest "${bukurea_pch_core_headers};<QTest>;<QSignalSpy>")
  endif()
endif()

# Whether a target links Qt GUI, itself or through the libraries it links.
function(bukurea_links_gui target out)
  set(todo ${target})
  set(seen "")
  while(todo)
    list(POP_FRONT todo t)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" t "${t}")
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    if(t STREQUAL "Qt6::Gui")
      set(${out} ON PARENT_SCOPE)
      return()
    endif()
    list(APPEND seen ${t})
    foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
      get_target_property(libs ${t} ${property})
      if(libs)
        list(APPEND todo ${libs})
      endif()
    endforeach()
  endwhile()
  set(${out} OFF PARENT_SCOPE)
endfunction()

# Call once the target's libraries are linked: a test's precompiled header
# depends on whether it links Qt GUI.
function(bukurea_precompiled_headers target)
  cmake_parse_arguments(P "CORE;TEST" "" "" ${ARGN})
  if(NOT BUKUREA_PCH_ON)
    return()
  endif()
  if(P_CORE)
    target_precompile_headers(${target} REUSE_FROM bukurea_pch_core)
    return()
  endif()
  if(NOT P_TEST)
    target_precompile_headers(${target} REUSE_FROM bukurea_pch)
    return()
  endif()
  bukurea_links_gui(${target} gui)
  if(gui)
    target_precompile_headers(${target} REUSE_FROM bukurea_pch_test)
  else()
    target_precompile_headers(${target} REUSE_FROM bukurea_pch_test_core)
  endif()
endfunction()
