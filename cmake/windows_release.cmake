# What `make windows` ships: the DLL and kestrova.exe with their debug
# information and symbols moved to NAME.debug beside them. The shipped file
# keeps a .gnu_debuglink naming that file (and its checksum), so gdb finds
# the debug information when it sits beside the file again.
function(kestrova_split_debug_info target)
  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
    VERBATIM)
endfunction()

# The version resource (monitor/module/version.rc) with the project's
# version; KESTROVA_PROGRAM_RESOURCE makes it describe kestrova.exe.
function(kestrova_version_resource target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/monitor/module/version.rc)
  target_compile_definitions(${target} PRIVATE ${ARGN}
    KESTROVA_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} KESTROVA_VERSION_MINOR=${PROJECT_VERSION_MINOR}
    KESTROVA_VERSION_PATCH=${PROJECT_VERSION_PATCH})
endfunction()
