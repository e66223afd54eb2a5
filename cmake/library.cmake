# The library: one object set per flavour, linked into the shipped library and, as a static
# library, into the unit tests (which reach internals the export does not offer).

set(QM_LIB_SOURCES
  base/cpu.cpp
  entry/dispatch.cpp
  import/filetable.cpp
  import/reader.cpp
  import/reader16.cpp
  import/readahead.cpp
  import/condition.cpp
  import/sources.cpp
  import/definitions.cpp
  import/readcommands.cpp
  import/backward.cpp
  glue/XPqUtil.cpp
  glue/callback.cpp
  glue/extutils.cpp
  glue/codepages.cpp
  glue/designinfo.cpp
  platform/faults.cpp)

if(QM_FLAVOUR STREQUAL "MAC")
  list(APPEND QM_LIB_SOURCES glue/callback_mac.cpp entry/instance_mac.cpp platform/mac.cpp)
  set(QM_EXPORT_SOURCES entry/export_mac.cpp)
  set(QM_LIB_NAME QuillomarMac)
else()
  list(APPEND QM_LIB_SOURCES glue/callback_win.cpp entry/dllmain.cpp platform/win32.cpp)
  set(QM_EXPORT_SOURCES entry/export_win.cpp)
  if(QM_FLAVOUR STREQUAL "WINU")
    set(QM_LIB_NAME QuillomarU)
  else()
    set(QM_LIB_NAME Quillomar)
  endif()
endif()

# The stand-in of the system calls, where the real ones cannot be had: a shared library of
# its own, so that the library and the host share one "system".
if(NOT WIN32)
  if(QM_FLAVOUR STREQUAL "MAC")
    add_library(qm_system SHARED platform/standin/toolbox_posix.cpp)
    set_target_properties(qm_system PROPERTIES OUTPUT_NAME qtoolbox)
  else()
    add_library(qm_system SHARED platform/standin/winapi_posix.cpp)
    set_target_properties(qm_system PROPERTIES OUTPUT_NAME qwinapi)
  endif()
  target_compile_options(qm_system PRIVATE -fvisibility=hidden)
  set(QM_SYSTEM_LIBS qm_system)
else()
  set(QM_SYSTEM_LIBS kernel32 user32)
endif()

# The version, as a header both the code and the resources include (windres would lose the
# quotes of a string given on its command line).
configure_file(${CMAKE_SOURCE_DIR}/resources/version.h.in
               ${CMAKE_BINARY_DIR}/generated/quillomar_version.h @ONLY)

# The library's sources as one object set, with the options every build of them takes.
function(qm_library_objects name)
  add_library(${name} OBJECT ${QM_LIB_SOURCES})
  target_compile_definitions(${name} PUBLIC QM_FLAVOUR_${QM_FLAVOUR})
  target_include_directories(${name} PRIVATE ${CMAKE_BINARY_DIR}/generated)
  target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti -fvisibility=hidden
                                         -Wconversion -Wsign-conversion)
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

qm_library_objects(qm_objects)
if(QM_FUZZ)
  # Coverage feedback from the library and its system calls only: the stand-in host's own
  # string and map code gave libFuzzer thousands of features that say nothing about the
  # library, and took a fifth of each run.
  target_compile_options(qm_objects PRIVATE -fsanitize=fuzzer-no-link)
  if(TARGET qm_system)
    target_compile_options(qm_system PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endif()

# A Release build with GCC links the shipped library with link-time optimisation: the read
# loop then calls the glue's small callback wrappers (several a record) inline rather than
# across objects, and the commands' code is laid out as one. A forward read took 12 to 16%
# less time, a backward one 6 to 16% (docs/performance.md). Its sources are compiled a second
# time for it: the unit tests link the ordinary objects, since the 32-bit MinGW linker takes
# the SSE2 functions of fat objects and of the tests' own for two definitions.
set(QM_LTO OFF)
set(QM_SHIPPED_OBJECTS qm_objects)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_BUILD_TYPE STREQUAL "Release")
  set(QM_LTO ON)
  qm_library_objects(qm_lto_objects)
  target_compile_options(qm_lto_objects PRIVATE -flto=auto)
  set(QM_SHIPPED_OBJECTS qm_lto_objects)
endif()

add_library(quillomar_core STATIC $<TARGET_OBJECTS:qm_objects>)
target_compile_definitions(quillomar_core PUBLIC QM_FLAVOUR_${QM_FLAVOUR})
target_include_directories(quillomar_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quillomar_core PUBLIC ${QM_SYSTEM_LIBS})

# The exported entry point stays out of the static library: the macOS one is named "main".
add_library(quillomar SHARED $<TARGET_OBJECTS:${QM_SHIPPED_OBJECTS}> ${QM_EXPORT_SOURCES})
target_compile_options(quillomar PRIVATE -fno-exceptions -fno-rtti -fvisibility=hidden)
target_include_directories(quillomar PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(quillomar PRIVATE QM_FLAVOUR_${QM_FLAVOUR})
target_include_directories(quillomar PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(quillomar PRIVATE ${QM_SYSTEM_LIBS})
set_target_properties(quillomar PROPERTIES OUTPUT_NAME ${QM_LIB_NAME} PREFIX "")
if(QM_LTO)
  target_compile_options(quillomar PRIVATE -flto=auto)
  target_link_options(quillomar PRIVATE -flto=auto)
endif()
if(WIN32)
  target_sources(quillomar PRIVATE resources/quillomar.rc resources/quillomar.def)
  target_include_directories(quillomar PRIVATE ${CMAKE_SOURCE_DIR}/resources)
  # The resource compiler's includes are not scanned: a changed command text rebuilds it.
  set_source_files_properties(resources/quillomar.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/resources/command_strings.h;${CMAKE_SOURCE_DIR}/resources/resource_ids.h")
  # The .def exports the entry point undecorated; the fixup silences the stdcall alias.
  target_link_options(quillomar PRIVATE -Wl,--enable-stdcall-fixup)
else()
  set_target_properties(quillomar PROPERTIES SUFFIX ".so" BUILD_RPATH "$ORIGIN")
  # clang leaves the sanitizer runtime to the program that loads the library.
  if(NOT (QM_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
    target_link_options(quillomar PRIVATE -Wl,--no-undefined)
  endif()
endif()
