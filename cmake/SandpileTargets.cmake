# Settings every target of the project shares, and the helpers its folders use.
include_guard(GLOBAL)

# The language standard and the warnings, set on each target rather than
# globally, so that a target added by a subproject keeps its own.
function(sandpile_target_defaults target)
    target_compile_features(${target} PUBLIC cxx_std_20)
    set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# Installs a manual page compressed, as Debian expects, with the version and
# the home page filled in.
function(sandpile_install_manual page section)
    configure_file(${page} ${page} @ONLY)
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND gzip -9nc ${page} > ${page}.gz
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}
        COMMENT "Compressing the manual page ${page}"
        VERBATIM)
    add_custom_target(${page}-manual ALL DEPENDS ${page}.gz)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
