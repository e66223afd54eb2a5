# The stand-in host: a library (for tests) and the quillomar-host program.
add_library(qhost STATIC host/host.cpp host/extended80.cpp host/utf8.cpp host/library.cpp host/system.cpp host/scenario.cpp
            host/importer.cpp host/describe.cpp host/sniff.cpp)
target_include_directories(qhost PUBLIC ${CMAKE_SOURCE_DIR})
if(QM_FLAVOUR STREQUAL "MAC")
  target_compile_definitions(qhost PUBLIC QHOST_FLAVOUR_MAC QHOST_SYSTEM_MAC)
else()
  target_compile_definitions(qhost PUBLIC QHOST_FLAVOUR_${QM_FLAVOUR})
endif()
target_link_libraries(qhost PUBLIC ${QM_SYSTEM_LIBS})
if(NOT WIN32)
  target_link_libraries(qhost PUBLIC ${CMAKE_DL_LIBS})
endif()

add_executable(quillomar-host host/main.cpp)
target_link_libraries(quillomar-host PRIVATE qhost)
target_include_directories(quillomar-host PRIVATE ${CMAKE_BINARY_DIR}/generated)
# CLI11 (Debian's libcli11-dev) is header-only. A cross build must not search the build
# machine's /usr/include, so it gets a folder holding nothing but CLI11's headers.
find_path(QM_CLI11_DIR CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/cli11)
file(CREATE_LINK ${QM_CLI11_DIR}/CLI ${CMAKE_BINARY_DIR}/cli11/CLI SYMBOLIC)
target_include_directories(quillomar-host SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/cli11)
if(NOT WIN32)
  set_target_properties(quillomar-host PROPERTIES BUILD_RPATH "$ORIGIN")
endif()
