# The editor's own SDK, for a plug-in built against it: -DMARROWPAD_SDK_DIR=<dir> names a folder
# with include/ (the SDK's header, MARROWPAD_SDK_HEADER) and lib/libmarrowpad.so. The plug-in's
# parts then see the SDK's declarations of the interface (plugin/Plugin.h includes its header)
# and the module links the SDK's library, as the target `marrowpad` that the stand-in is
# otherwise.
set(MARROWPAD_SDK_DIR "" CACHE PATH
  "The editor's SDK (include/, lib/libmarrowpad.so): the plug-in alone is built against it")
set(MARROWPAD_SDK_HEADER "MarrowpadSDK.h" CACHE STRING
  "The SDK's header that declares the plug-in classes and the editor services")

if(MARROWPAD_SDK_DIR)
  cmake_path(ABSOLUTE_PATH MARROWPAD_SDK_DIR NORMALIZE)
  set(sdk_library ${MARROWPAD_SDK_DIR}/lib/libmarrowpad.so)
  if(NOT EXISTS ${MARROWPAD_SDK_DIR}/include/${MARROWPAD_SDK_HEADER} OR NOT EXISTS ${sdk_library})
    message(FATAL_ERROR "MARROWPAD_SDK_DIR=${MARROWPAD_SDK_DIR} holds no "
                        "include/${MARROWPAD_SDK_HEADER} and lib/libmarrowpad.so")
  endif()
  message(STATUS "Building the plug-in against the editor's SDK in ${MARROWPAD_SDK_DIR}")
  add_library(marrowpad SHARED IMPORTED GLOBAL)
  set_target_properties(marrowpad PROPERTIES IMPORTED_LOCATION ${sdk_library})
  # The SDK's declarations, for every part that sees the interface.
  add_library(marrowpad_sdk INTERFACE)
  target_include_directories(marrowpad_sdk SYSTEM INTERFACE ${MARROWPAD_SDK_DIR}/include)
  target_compile_definitions(marrowpad_sdk INTERFACE
    MARROWPAD_SDK_HEADER="${MARROWPAD_SDK_HEADER}")
  # Nothing but the plug-in module is built against an SDK.
  set(COILHATCH_TESTS OFF)
  set(COILHATCH_BENCH OFF)
endif()
