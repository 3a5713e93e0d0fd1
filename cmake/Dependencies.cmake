# Every dependency comes from Debian's archive; configure stops with the package to install
# when one is missing.

function(coilhatch_require found what package)
  if(NOT ${found})
    message(FATAL_ERROR "${what} not found. Install it with: sudo apt-get install ${package}\n"
                        "(or run scripts/setup.sh, which installs everything the build needs)")
  endif()
endfunction()

# wxPython exists only for Debian's own interpreter (sys.prefix /usr), so that is the one we
# embed, whatever other Python sits earlier on PATH.
if(NOT Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python to embed (Debian's own)")
endif()
find_package(Python3 3.11 COMPONENTS Interpreter Development.Embed Development.Module)
coilhatch_require(Python3_Development.Embed_FOUND "Python 3.11 embedding headers" python3-dev)

# The interpreter starts from this absolute path (links resolved), never from a `python3`
# looked up on PATH: an activated virtual environment or another Python first on PATH would
# otherwise give it that installation's prefix, standard library and sys.executable.
file(REAL_PATH "${Python3_EXECUTABLE}" COILHATCH_PYTHON_EXECUTABLE)
message(STATUS "Embedding Python ${Python3_VERSION}: ${COILHATCH_PYTHON_EXECUTABLE} (${Python3_LIBRARIES})")

execute_process(
  COMMAND ${Python3_EXECUTABLE} -c "import os, wx; print(os.path.join(os.path.dirname(wx.__file__), 'include', 'wxPython'))"
  OUTPUT_VARIABLE COILHATCH_WXPYTHON_INCLUDE OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE wxpython_result ERROR_QUIET)
if(NOT wxpython_result EQUAL 0 OR NOT EXISTS "${COILHATCH_WXPYTHON_INCLUDE}/wxpy_api.h")
  set(wxpython_found FALSE)
else()
  set(wxpython_found TRUE)
endif()
coilhatch_require(wxpython_found "wxPython 4 for ${Python3_EXECUTABLE} (with wxpy_api.h)" python3-wxgtk4.0)
message(STATUS "wxPython embedding header: ${COILHATCH_WXPYTHON_INCLUDE}")


# The soname of the libpython we link, made global before the interpreter starts.
execute_process(
  COMMAND ${Python3_EXECUTABLE} -c "import sysconfig; print(sysconfig.get_config_var('INSTSONAME'))"
  OUTPUT_VARIABLE COILHATCH_PYTHON_SONAME OUTPUT_STRIP_TRAILING_WHITESPACE)

find_package(wxWidgets 3.2 COMPONENTS stc xml core base)
coilhatch_require(wxWidgets_FOUND "wxWidgets 3.2 (core, base, stc, xml)" libwxgtk3.2-dev)

# wxWidgets' variables, wrapped once.
add_library(coilhatch_wx INTERFACE)
target_include_directories(coilhatch_wx SYSTEM INTERFACE ${wxWidgets_INCLUDE_DIRS})
target_compile_definitions(coilhatch_wx INTERFACE ${wxWidgets_DEFINITIONS})
target_compile_options(coilhatch_wx INTERFACE ${wxWidgets_CXX_FLAGS})
target_link_libraries(coilhatch_wx INTERFACE ${wxWidgets_LIBRARIES})

# The embedded interpreter and wxPython's embedding header.
add_library(coilhatch_python INTERFACE)
target_include_directories(coilhatch_python SYSTEM INTERFACE ${COILHATCH_WXPYTHON_INCLUDE})
target_link_libraries(coilhatch_python INTERFACE Python3::Python coilhatch_wx ${CMAKE_DL_LIBS})
target_compile_definitions(coilhatch_python INTERFACE
  COILHATCH_PYTHON_SONAME="${COILHATCH_PYTHON_SONAME}"
  COILHATCH_PYTHON_EXECUTABLE="${COILHATCH_PYTHON_EXECUTABLE}")

# JSON between the plug-in and its completion server.
find_package(nlohmann_json 3 CONFIG QUIET)
coilhatch_require(nlohmann_json_FOUND "nlohmann/json" nlohmann-json3-dev)

set(PYBIND11_FINDPYTHON ON)
find_package(pybind11 CONFIG QUIET)
coilhatch_require(pybind11_FOUND "pybind11" pybind11-dev)

if(COILHATCH_TESTS)
  find_package(GTest QUIET)
  coilhatch_require(GTest_FOUND "GoogleTest" googletest)
  find_program(XVFB_RUN xvfb-run)
endif()
