# The installed study inputs (include/korvelan/inputs.h): korvelan_common,
# built in common/, installed as libkorvelan_inputs.a, target
# korvelan::inputs in the CMake package and korvelan-inputs.pc. Included
# from the top CMakeLists.txt once common/ has defined the target.
#
# Its dependencies stay outside libkorvelan.a (korvelan::korvelan alone
# needs nothing but threads): zlib and OpenSSL's libcrypto are
# linked by who links korvelan::inputs, found by korvelanConfig.cmake and
# named by the .pc file. nlohmann-json is header-only and used inside the
# archive only, so an installed consumer does not need it.

set_target_properties(korvelan_common PROPERTIES OUTPUT_NAME korvelan_inputs
                                                 EXPORT_NAME inputs)
# korvelan_library() gives every target the source tree as include path;
# installed, the headers come from korvelan::korvelan's include directory.
set_property(TARGET korvelan_common PROPERTY INTERFACE_INCLUDE_DIRECTORIES
             "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>")
set_property(TARGET korvelan_common PROPERTY INTERFACE_LINK_LIBRARIES
             korvelan::korvelan
             OpenSSL::Crypto
             ZLIB::ZLIB
             "$<BUILD_INTERFACE:nlohmann_json::nlohmann_json>")

install(TARGETS korvelan_common EXPORT korvelanTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
          ${PROJECT_SOURCE_DIR}/include/korvelan/inputs.h
          ${PROJECT_SOURCE_DIR}/include/korvelan/input_error.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korvelan COMPONENT library)
file(RELATIVE_PATH KORVELAN_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(${PROJECT_SOURCE_DIR}/cmake/korvelan-inputs.pc.in
               ${PROJECT_BINARY_DIR}/korvelan-inputs.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korvelan-inputs.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT library)
